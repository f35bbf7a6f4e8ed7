// The phone's client API spoken from the browser: plist answers parsed with
// DOMParser, one client id per page. When the server checks its password, the id it
// gave lives in a cookie that scripts cannot read: a "/connect" without a password
// hands it back, so a reload keeps it, and a password is sent only when the user has
// typed one.
// URLs that the server hands out name its external address; the page always asks
// its own origin for the same path, so it works behind port mappings too. Behind a
// reverse proxy that serves the server under a prefix ("/media/"), the server's paths
// are asked for under the page's own folder.

export const RESULT = {
    OK: 0,
    FAILED_INPUT: -11,
    NOT_EXIST: -12,
    FAILED_ID: -14,
    DUPLICATE_NAME: -15,
    FULL_USER: -16,
    PASSWORD: -17,
};

export class ApiError extends Error {
    constructor(result, message) {
        super(message || `result ${result}`);
        this.result = result;
    }
}

// Thrown when the server wants a password before anything else; retryAfter is how
// many seconds the server lets pass before it weighs the next password from here.
export class PasswordNeeded extends Error {
    constructor(message, retryAfter = 0) {
        super(message);
        this.retryAfter = retryAfter;
    }
}

function parseValue(node) {
    switch (node.tagName) {
    case 'string':
        return node.textContent;
    case 'array':
        return Array.from(node.children, parseValue);
    case 'dict': {
        const result = {};
        const children = Array.from(node.children);
        for (let i = 0; i + 1 < children.length; i += 2) {
            if (children[i].tagName === 'key')
                result[children[i].textContent] = parseValue(children[i + 1]);
        }
        return result;
    }
    default:
        return node.textContent;
    }
}

// A property-list document as plain objects; null when it is not one.
export function parsePlist(text) {
    const doc = new DOMParser().parseFromString(text, 'application/xml');
    if (doc.getElementsByTagName('parsererror').length)
        return null;
    const top = doc.documentElement;
    if (!top || top.tagName !== 'plist' || !top.firstElementChild)
        return null;
    return parseValue(top.firstElementChild);
}

// The same path on this page's origin; empty for anything that is not an http URL.
export function sameOrigin(url) {
    try {
        const parsed = new URL(url, location.href);
        if (parsed.protocol !== 'http:' && parsed.protocol !== 'https:')
            return '';
        return parsed.pathname + parsed.search;
    } catch {
        return '';
    }
}

// The folder the page was served from: "/", or the proxy's prefix ("/media/").
function pageFolder() {
    return new URL('./', document.baseURI).pathname;
}

// A URL the server wrote, as a path of the server ("/xml/…"): behind a trusted proxy
// its URLs carry the proxy's prefix, which pageUrl adds again. Empty for anything
// that is not an http URL.
export function serverPathOf(url) {
    const path = sameOrigin(url);
    const folder = pageFolder();
    if (folder === '/' || !path.startsWith(folder))
        return path;
    try {
        if (new URL(url, location.href).origin !== location.origin)
            return path;
    } catch {
        return '';
    }
    return path.slice(folder.length - 1);
}

// A path of the server ("/connect?…", "/xml/…", as its URLs name them) as this page
// reaches it.
export function pageUrl(serverPath) {
    return pageFolder() + String(serverPath).replace(/^\/+/, '');
}

let clientId = null;

export function currentClientId() {
    return clientId;
}

async function fetchText(url) {
    const response = await fetch(pageUrl(url), { credentials: 'same-origin', cache: 'no-store' });
    if (response.status === 403)
        throw new PasswordNeeded();
    if (!response.ok)
        throw new ApiError(-response.status, `HTTP ${response.status}`);
    return response.text();
}

async function fetchPlist(url) {
    const answer = parsePlist(await fetchText(url));
    if (!answer)
        throw new ApiError(-1, 'not a property list');
    return answer;
}

function resultOf(answer) {
    const result = Number.parseInt(answer.result, 10);
    return Number.isNaN(result) ? -1 : result;
}

// Asks for a client id; with a password when the user typed one (an empty one is
// never sent: it could only count as a wrong try).
export async function connect(password) {
    const query = typeof password === 'string' && password !== ''
        ? `?password=${encodeURIComponent(password)}` : '';
    const answer = await fetchPlist(`/connect${query}`);
    const result = resultOf(answer);
    if (result === RESULT.PASSWORD)
        throw new PasswordNeeded(answer.message, Number.parseInt(answer.retryafter, 10) || 0);
    if (result !== RESULT.OK || !/^[0-9A-F]{32}$/.test(answer.message || ''))
        throw new ApiError(result, answer.message);
    clientId = answer.message;
    return clientId;
}

async function ensureId() {
    return clientId || connect();
}

// Runs a request that needs a client id, connecting again once when the server has
// forgotten the id (it restarted).
async function withId(request) {
    const id = await ensureId();
    const answer = await fetchPlist(request(id));
    if (resultOf(answer) !== RESULT.FAILED_ID)
        return answer;
    clientId = null;
    return fetchPlist(request(await ensureId()));
}

function checked(answer) {
    const result = resultOf(answer);
    if (result !== RESULT.OK)
        throw new ApiError(result, answer.message);
    return answer;
}

// "1:02:03" of seconds as the phone's lists write it ("01:02:03").
function playTimeOf(seconds) {
    const whole = Math.max(0, Math.floor(seconds));
    return [Math.floor(whole / 3600), Math.floor((whole % 3600) / 60), whole % 60]
        .map((n) => String(n).padStart(2, '0')).join(':');
}

// "734 MB", "1.4 GB" of bytes.
export function sizeText(bytes) {
    const units = ['Bytes', 'KB', 'MB', 'GB', 'TB'];
    let value = Number(bytes) || 0;
    let unit = 0;
    while (value >= 1024 && unit < units.length - 1) {
        value /= 1024;
        unit += 1;
    }
    const digits = unit === 0 || value >= 100 ? 0 : 1;
    return `${value.toFixed(digits)} ${units[unit]}`;
}

// A video of the JSON listing in the form the pages use (the phone's keys).
function listedVideo(entry) {
    const media = entry.media?.readable ? entry.media : null;
    let encoding = '0';
    if (entry.converted)
        encoding = '2';
    else if (media?.directPlay)
        encoding = '1';
    return {
        name: entry.name, bytes: entry.size, size: sizeText(entry.size), modified: entry.modified,
        playTime: media ? playTimeOf(media.duration) : '',
        resolution: media ? `${media.width}x${media.height}` : '',
        subtitle: entry.subtitle ? '1' : '0', encoding, known: Boolean(entry.media),
    };
}

// { folders: [{name, count}], files: [{name, playTime, size, bytes, modified, …}],
// pending } of a server path ("/" for the shares), answered at once; pending counts the
// videos whose media properties the server is still reading.
export async function listFolder(path) {
    let answer;
    try {
        answer = await apiGet('folder', { path });
    } catch (error) {
        if (error instanceof ApiError && error.result === -404)
            throw new ApiError(RESULT.NOT_EXIST, error.message);
        throw error;
    }
    const folders = (answer.folders || []).map((folder) => ({
        name: folder.name, count: String(folder.count), modified: folder.modified,
    }));
    return { folders, files: (answer.files || []).map(listedVideo), pending: answer.pending || 0 };
}

export async function fileInfo(path) {
    return checked(
        await withId((id) => `/getFileInfo?path=${encodeURIComponent(path)}&id=${id}`));
}

// A live stream of the file: { url, startVariant }: the master playlist's path and,
// from a server that offers a browser its own variants (the source's own picture
// and HD), the variant playlist to start with ("" from one that does not). tracks
// may choose the audio stream and a picture subtitle to burn in ({ audio, sub }).
export async function play(path, width, height, playTime, tracks = {}) {
    const answer = checked(await withId((id) => {
        const query = new URLSearchParams({
            id, path, width: String(width), height: String(height),
            ostype: 'web', conntype: 'WIFI', playtime: playTime || '00:00:00', variants: 'browser',
        });
        for (const name of ['audio', 'sub']) {
            if (Number.isInteger(tracks[name]) && tracks[name] >= 0)
                query.set(name, String(tracks[name]));
        }
        return `/play?${query}`;
    }));
    const startVariant = /^movie\d+\.m3u8$/.test(answer.startvariant || '') ? answer.startvariant : '';
    return { url: serverPathOf(answer.message || ''), startVariant };
}

// Ends the client's stream. keepalive lets it finish while the page goes away. The
// server may answer with a bare status line, which fails the fetch, or with a full
// answer; either way the stream has ended by the time it answers, and nothing in the
// answer changes what the page does next. The wait is bounded so that a server that
// never answers cannot hold the next page back.
const PLAY_END_WAIT_MS = 5000;

export async function playEnd(keepalive) {
    if (!clientId)
        return;
    try {
        const response = await fetch(pageUrl(`/playEnd?id=${clientId}`), {
            keepalive, credentials: 'same-origin', cache: 'no-store',
            signal: AbortSignal.timeout(PLAY_END_WAIT_MS),
        });
        await response.arrayBuffer();
    } catch {
        // A broken answer or no answer at all: the page goes on either way.
    }
}

// The server's conversion jobs: { open: [{id, name, progress}], finished: [{id, name,
// failed}] }; progress is null while a job waits for its turn, else 0 to 100.
async function fetchJobList(answer) {
    const listUrl = serverPathOf(checked(answer).fileurl || '');
    if (!listUrl.startsWith('/xml/'))
        throw new ApiError(-1, 'no list file');
    const list = await fetchPlist(listUrl);
    const entries = (key) => (Array.isArray(list[key]) ? list[key] : [])
        .filter((job) => job && typeof job.convertid === 'string' && job.convertid !== '');
    const open = entries('convertWait').map((job) => {
        const progress = Number.parseInt(job.progress, 10);
        return {
            id: job.convertid, name: String(job.filename ?? ''),
            progress: Number.isNaN(progress) || progress < 0 ? null : Math.min(progress, 100),
        };
    });
    const finished = entries('convertComplete').map((job) => ({
        id: job.convertid, name: String(job.filename ?? ''), failed: job.status !== '0',
    }));
    return { open, finished };
}

// The conversion requests do not look at the client id (it only opens the door when
// the server requires its password), so -14 there names an unknown job, never a
// forgotten client.
async function conversionRequest(request) {
    return fetchPlist(request(await ensureId()));
}

export async function conversionList() {
    return fetchJobList(await conversionRequest((id) => `/convertList?id=${id}`));
}

// Queues the file for conversion; resolves to the new job's id.
export async function convert(path, device, option) {
    const answer = checked(await conversionRequest((id) => {
        const query = new URLSearchParams({ id, path, device: String(device), option: String(option) });
        return `/convert?${query}`;
    }));
    if (typeof answer.convertid !== 'string' || answer.convertid === '')
        throw new ApiError(-1, 'no convert id');
    return answer.convertid;
}

// Cancels a waiting or running job, or takes a finished one off the list.
export async function cancelConversion(convertId) {
    return fetchJobList(await conversionRequest(
        (id) => `/convertCancel?${new URLSearchParams({ id, convertid: convertId })}`));
}

export async function clearFinishedConversions() {
    return fetchJobList(await conversionRequest((id) => `/convertDeleteCompleteList?id=${id}`));
}

// The browser's JSON API (docs/api.md). A profile is a name kept in this browser; the
// server keeps the play positions of each.
const PROFILE_KEY = 'vembacast.profile';
export const DEFAULT_PROFILE = 'Home';

export function currentProfile() {
    const stored = localStorage.getItem(PROFILE_KEY);
    return stored && [...stored].length <= 40 ? stored : DEFAULT_PROFILE;
}

// The JSON of a request of the API; the client id goes along for servers that ask for
// their password.
async function apiGet(request, values = {}) {
    const id = await ensureId();
    const query = new URLSearchParams({ ...values, id });
    const response = await fetch(pageUrl(`/api/v1/${request}?${query}`),
        { credentials: 'same-origin', cache: 'no-cache' });
    if (response.status === 403)
        throw new PasswordNeeded();
    const body = await response.json().catch(() => null);
    if (!response.ok || !body)
        throw new ApiError(-response.status, body?.error?.message || `HTTP ${response.status}`);
    return body;
}

// Videos of every share whose names hold every word of the query, newest first.
export function searchVideos(query, limit = 50) {
    return apiGet('search', { q: query, limit: String(limit) });
}

export function recentVideos(limit = 12) {
    return apiGet('recent', { limit: String(limit) });
}

// Videos this profile started and did not finish, the latest first.
export function unfinishedVideos(limit = 12) {
    return apiGet('positions', { profile: currentProfile(), state: 'unfinished', limit: String(limit) });
}

// Tells the server where this profile is in a video. keepalive lets the last one go
// out while the page goes away; a failure changes nothing for the viewer.
export async function reportPosition(path, seconds, duration) {
    const values = { profile: currentProfile(), path, position: seconds.toFixed(1) };
    if (Number.isFinite(duration) && duration > 0)
        values.duration = duration.toFixed(1);
    try {
        const id = await ensureId();
        await fetch(pageUrl(`/api/v1/position/save?${new URLSearchParams({ ...values, id })}`),
            { credentials: 'same-origin', cache: 'no-store', keepalive: true });
    } catch {
        // The position stays in this browser.
    }
}

// "2 MB", "221 KB", "1.4 GB" as bytes, for sorting; 0 when unreadable.
export function sizeBytes(text) {
    const match = /^\s*([\d.,]+)\s*([KMGT]?B|bytes?)?\s*$/i.exec(String(text || ''));
    if (!match)
        return 0;
    const value = Number.parseFloat(match[1].replace(/,/g, ''));
    const unit = (match[2] || 'B').toUpperCase();
    const scale = { B: 1, BYTE: 1, BYTES: 1, KB: 1024, MB: 1024 ** 2, GB: 1024 ** 3, TB: 1024 ** 4 };
    return Number.isFinite(value) ? value * (scale[unit] || 1) : 0;
}

// "hh:mm:ss" as seconds; 0 when unreadable.
export function playSeconds(text) {
    const parts = String(text || '').split(':').map((p) => Number.parseInt(p, 10));
    if (parts.length !== 3 || parts.some(Number.isNaN))
        return 0;
    return parts[0] * 3600 + parts[1] * 60 + parts[2];
}

// "640x360" as {width, height}; null when unreadable.
export function resolutionOf(text) {
    const match = /^(\d+)x(\d+)$/.exec(String(text || ''));
    return match ? { width: Number(match[1]), height: Number(match[2]) } : null;
}

// The audio and subtitle tracks of a video (docs/api.md, "/tracks").
export function videoTracks(path) {
    return apiGet('tracks', { path });
}

// The WebVTT of one subtitle of a video, { stream: N } inside it or { file: NAME }
// beside it, for a <track>.
export function subtitleUrl(path, which) {
    const values = new URLSearchParams({ path, ...which });
    if (clientId)
        values.set('id', clientId);
    return pageUrl(`/api/v1/subtitle?${values}`);
}

// This profile's latest positions, watched videos among them (the folder pages show
// how far each video got).
export function profilePositions(limit = 200) {
    return apiGet('positions', { profile: currentProfile(), state: 'all', limit: String(limit) });
}

// { profiles: [{ name, positions, updated }], max, default }
export function listProfiles() {
    return apiGet('profiles');
}

// Makes a profile on the server; an ApiError carries the server's refusal text.
export function createProfile(name) {
    return apiGet('profile/create', { profile: name });
}

export function deleteProfile(name) {
    return apiGet('profile/delete', { profile: name });
}

// Keeps the chosen profile in this browser; the default is kept as no choice at all.
export function chooseProfile(name) {
    if (name === DEFAULT_PROFILE)
        localStorage.removeItem(PROFILE_KEY);
    else
        localStorage.setItem(PROFILE_KEY, name);
}
