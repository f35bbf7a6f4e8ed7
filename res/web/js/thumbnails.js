// A video's small picture, asked of the server by the video's path. A picture the
// server could not make (a broken or empty file) is remembered in this browser with the
// file's time and size, and not asked for again until the file changes or a day has
// passed (the server may have failed for a while only).

import { pageUrl } from './api.js';
import { el } from './dom.js';
import { serverPath } from './routes.js';

const FAILED_PREFIX = 'vembacast.nothumb:';
const RETRY_MS = 24 * 3600 * 1000;

// What names this version of the file; empty when the listing did not say.
function stampOf(file) {
    return Number.isFinite(file.modified) && Number.isFinite(file.bytes) ? `${file.modified}/${file.bytes}` : '';
}

export function knownMissing(path, stamp, now = Date.now()) {
    if (!stamp)
        return false;
    const [kept, when] = String(localStorage.getItem(FAILED_PREFIX + path) || '').split(' ');
    return kept === stamp && now - Number(when) < RETRY_MS;
}

export function thumbnailOf(file, segments) {
    const path = serverPath(segments);
    const stamp = stampOf(file);
    if (knownMissing(path, stamp))
        return el('span', { class: 'thumb missing' });
    const query = new URLSearchParams({
        path, width: '320', height: '180', playtime: file.playTime || '',
    });
    const image = el('img', { class: 'thumb', alt: '', loading: 'lazy', src: pageUrl(`/getThumbnail?${query}`) });
    image.addEventListener('error', () => {
        image.classList.add('missing');
        if (stamp)
            localStorage.setItem(FAILED_PREFIX + path, `${stamp} ${Date.now()}`);
    }, { once: true });
    image.addEventListener('load', () => localStorage.removeItem(FAILED_PREFIX + path), { once: true });
    return image;
}
