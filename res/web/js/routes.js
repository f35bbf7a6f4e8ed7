// Deep links: #/browse/<share>/<path…> and #/play/<share>/<path…>?t=SECONDS, each
// path segment URL-encoded, #/search?q=WORDS for a search of every share, and
// #/conversions for the server's conversion jobs. Parsing never throws: a malformed link
// shows the shares.

import { pageUrl } from './api.js';

function decodeSegment(segment) {
    try {
        return decodeURIComponent(segment);
    } catch {
        return null;
    }
}

export function parseRoute(hash) {
    let text = String(hash || '').replace(/^#/, '');
    let query = '';
    const mark = text.indexOf('?');
    if (mark >= 0) {
        query = text.slice(mark + 1);
        text = text.slice(0, mark);
    }
    const raw = text.split('/').filter((part) => part !== '');
    const segments = raw.slice(1).map(decodeSegment);
    const safe = segments.every((s) => s !== null && s !== '.' && s !== '..' && !s.includes('/'));
    if (!safe || raw.length === 0)
        return { view: 'browse', segments: [] };
    if (raw[0] === 'conversions' && raw.length === 1)
        return { view: 'conversions', segments: [] };
    if (raw[0] === 'search' && raw.length === 1)
        return { view: 'search', segments: [], query: new URLSearchParams(query).get('q') || '' };
    if (raw[0] === 'play' && segments.length >= 2) {
        const seconds = Number(new URLSearchParams(query).get('t'));
        const start = Number.isFinite(seconds) && seconds > 0 ? seconds : null;
        return { view: 'play', segments, start };
    }
    return { view: 'browse', segments: raw[0] === 'browse' ? segments : [] };
}

function encodeSegments(segments) {
    return segments.map(encodeURIComponent).join('/');
}

export function searchLink(query) {
    return `#/search?${new URLSearchParams({ q: query })}`;
}

// The segments of a server path ("/Movies/Kids/a.mkv").
export function segmentsOf(path) {
    return String(path || '').split('/').filter((part) => part !== '');
}

export function browseLink(segments) {
    return segments.length ? `#/browse/${encodeSegments(segments)}` : '#/';
}

export function playLink(segments, start) {
    const link = `#/play/${encodeSegments(segments)}`;
    return start ? `${link}?t=${Math.floor(start)}` : link;
}

// The server decodes a path value once more when it holds only letters, digits, '%',
// '.' and '/' (phones encode their paths twice). So every byte of a name except
// letters, digits and '.' goes as %XX: that form is always decoded once more, and
// gives back exactly the name, whatever '%' or blanks it holds ("x%20y.mp4" stays
// itself instead of turning into "x y.mp4").
const utf8 = new TextEncoder();

function pathValueOf(segment) {
    let value = '';
    for (const byte of utf8.encode(segment)) {
        const char = String.fromCharCode(byte);
        value += /[A-Za-z0-9.]/.test(char) ? char : `%${byte.toString(16).toUpperCase().padStart(2, '0')}`;
    }
    return value;
}

// The server's path value: "/share/folder/file", each name as above. Query strings
// encode it once more (URLSearchParams, encodeURIComponent).
export function serverPath(segments) {
    return '/' + segments.map(pathValueOf).join('/');
}

// A download URL: the path value encoded once more, since the server decodes a URL's
// path once before it decodes the value.
export function downloadUrl(segments) {
    return pageUrl(`/file_download/${segments.map((segment) => pathValueOf(segment).replace(/%/g, '%25')).join('/')}`);
}
