// Attaches a stream to the one <video> element: a file as it is, or an HLS playlist
// through hls.js where the browser has Media Source Extensions, else through the
// browser's own HLS (Safari on iOS). The browser's playlists name their playlists and
// segments relative to themselves, so both players stay on this page's origin and
// under its folder.

import { sameOrigin } from './api.js';

let hlsModule = null;

async function loadHls() {
    if (!hlsModule)
        hlsModule = import('../vendor/hls.mjs').then((module) => module.default);
    return hlsModule;
}

function hasMse() {
    return typeof window.MediaSource === 'function' || typeof window.ManagedMediaSource === 'function';
}

// The server restarts its engine on a jump and answers once the segments exist, so
// the first byte of a segment may take a while.
function loadPolicy(firstByteMs, totalMs) {
    return {
        default: {
            maxTimeToFirstByteMs: firstByteMs,
            maxLoadTimeMs: totalMs,
            timeoutRetry: { maxNumRetry: 2, retryDelayMs: 0, maxRetryDelayMs: 0 },
            errorRetry: { maxNumRetry: 3, retryDelayMs: 1000, maxRetryDelayMs: 8000 },
        },
    };
}

// Returns { levels, setLevel(i), destroy() }; calls onLevels once the variants are known.
export async function attachStream(video, source, { hls: useHls, start, onLevels, onFatal }) {
    if (!useHls) {
        video.src = source;
        if (start)
            video.addEventListener('loadedmetadata', () => { video.currentTime = start; }, { once: true });
        return { setLevel() {}, destroy() { video.removeAttribute('src'); video.load(); } };
    }
    if (!hasMse() && video.canPlayType('application/vnd.apple.mpegurl')) {
        video.src = source;
        if (start)
            video.addEventListener('loadedmetadata', () => { video.currentTime = start; }, { once: true });
        return { setLevel() {}, destroy() { video.removeAttribute('src'); video.load(); } };
    }
    const Hls = await loadHls();
    const hls = new Hls({
        startPosition: start || -1,
        capLevelToPlayerSize: false,
        xhrSetup(xhr, url) {
            xhr.open('GET', sameOrigin(url) || url, true);
            xhr.withCredentials = true;
        },
        manifestLoadPolicy: loadPolicy(20000, 30000),
        playlistLoadPolicy: loadPolicy(20000, 30000),
        fragLoadPolicy: loadPolicy(90000, 120000),
    });
    let recoveries = 0;
    hls.on(Hls.Events.MANIFEST_PARSED, () => {
        // Every variant switch restarts the server's engine: no automatic switching.
        const best = hls.levels.length - 1;
        hls.currentLevel = best;
        onLevels?.(hls.levels.map((level) => level.bitrate), best);
    });
    hls.on(Hls.Events.ERROR, (event, data) => {
        if (!data.fatal)
            return;
        if (recoveries++ < 3 && data.type === Hls.ErrorTypes.MEDIA_ERROR) {
            hls.recoverMediaError();
        } else if (recoveries < 3 && data.type === Hls.ErrorTypes.NETWORK_ERROR) {
            hls.startLoad(video.currentTime);
        } else {
            onFatal?.(data);
        }
    });
    hls.loadSource(source);
    hls.attachMedia(video);
    return {
        setLevel(index) { hls.currentLevel = index; },
        destroy() { hls.destroy(); },
    };
}
