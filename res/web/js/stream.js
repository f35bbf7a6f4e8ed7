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

// The variant number of a variant playlist URL (".../movie7.m3u8" gives 7), or 0.
export function variantOf(url) {
    const match = /(?:^|\/)movie(\d+)\.m3u8(?:$|[?#])/.exec(String(url || ''));
    return match ? Number(match[1]) : 0;
}

// The level to start with: the one whose playlist is startVariant, else the best.
export function chooseLevel(levels, startVariant) {
    const wanted = variantOf(startVariant);
    const index = wanted ? levels.findIndex((level) => level.variant === wanted) : -1;
    return index >= 0 ? index : levels.length - 1;
}

// Returns { setLevel(i), destroy() }; calls onLevels once the variants are known, with
// [{ bitrate, height, variant }] and the index chosen, and onLevelSwitched with the
// index of the variant that plays whenever it changes.
export async function attachStream(video, source,
    { hls: useHls, start, startVariant, onLevels, onLevelSwitched, onFatal }) {
    if (!useHls) {
        video.src = source;
        if (start)
            video.addEventListener('loadedmetadata', () => { video.currentTime = start; }, { once: true });
        return { setLevel() {}, restart() {}, destroy() { video.removeAttribute('src'); video.load(); } };
    }
    if (!hasMse() && video.canPlayType('application/vnd.apple.mpegurl')) {
        video.src = source;
        if (start)
            video.addEventListener('loadedmetadata', () => { video.currentTime = start; }, { once: true });
        return { setLevel() {}, restart() {}, destroy() { video.removeAttribute('src'); video.load(); } };
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
    let keptLevel = null; // the variant that goes on playing from a new playlist
    hls.on(Hls.Events.MANIFEST_PARSED, () => {
        const kept = keptLevel;
        keptLevel = null;
        if (kept !== null && hls.levels[kept]) {
            hls.currentLevel = kept;
            return;
        }
        // Every variant switch restarts the server's engine: no automatic switching.
        const levels = hls.levels.map((level) => ({
            bitrate: level.bitrate, height: level.height, variant: variantOf(level.uri),
        }));
        const chosen = chooseLevel(levels, startVariant);
        hls.currentLevel = chosen;
        onLevels?.(levels, chosen);
    });
    hls.on(Hls.Events.LEVEL_SWITCHED, (event, data) => onLevelSwitched?.(data.level));
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
        // At the next fragment that can be replaced without emptying the buffer: the
        // picture keeps moving while the server starts the new variant's engine.
        setLevel(index) { hls.nextLevel = index; },
        destroy() { hls.destroy(); },
        // Loads again from position (after the screen was off): from the same
        // playlists, or from the master playlist of a new "/play".
        restart(position, newSource) {
            recoveries = 0;
            if (!newSource) {
                hls.stopLoad();
                hls.startLoad(position);
                return;
            }
            keptLevel = hls.currentLevel >= 0 ? hls.currentLevel : null;
            hls.config.startPosition = position;
            hls.loadSource(newSource);
        },
    };
}
