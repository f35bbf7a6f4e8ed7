// Seek previews: while the pointer hovers the seek bar, or the bar is dragged, a
// small picture of that time (with the time under it) shows above it. The pictures
// come from the server's WebVTT thumbnails track (docs/api.md, /api/v1/previews):
// each cue names a sprite sheet and the picture's place in it ("…#xywh=x,y,w,h").
// The server makes them the first time a video is opened and answers 202 until
// then, naming when to ask again; a video without previews simply shows none.

import { currentClientId, pageUrl } from './api.js';
import { clockText } from './clock.js';
import { el } from './dom.js';

const MAX_TRIES = 60;
// The width of the seek bar's thumb as browsers draw an unstyled range.
const THUMB_WIDTH = 16;

// "HH:MM:SS.mmm" or "MM:SS.mmm" in seconds; NaN when it is neither.
function cueSeconds(text) {
    const match = /^(?:(\d+):)?([0-5]\d):([0-5]\d)\.(\d{3})$/.exec(text.trim());
    if (!match)
        return Number.NaN;
    return Number(match[1] || 0) * 3600 + Number(match[2]) * 60 + Number(match[3]) + Number(match[4]) / 1000;
}

// The cues of a thumbnails track, in time order: {start, end, url, x, y, w, h}, the
// URL resolved against base. Cues that name no picture place are left out.
export function parseThumbnailTrack(text, base) {
    const cues = [];
    for (const block of String(text).replace(/\r\n?/g, '\n').split(/\n{2,}/)) {
        const lines = block.split('\n').filter((line) => line !== '');
        const timing = lines.findIndex((line) => line.includes('-->'));
        if (timing < 0 || timing + 1 >= lines.length)
            continue;
        const [from, to] = lines[timing].split('-->');
        const start = cueSeconds(from);
        const end = cueSeconds(to.trim().split(/\s+/)[0]);
        const fragment = /^(.*)#xywh=(\d+),(\d+),(\d+),(\d+)$/.exec(lines[timing + 1].trim());
        if (!fragment || !(end > start))
            continue;
        const [, url, x, y, w, h] = fragment;
        cues.push({ start, end, url: new URL(url, base).href, x: +x, y: +y, w: +w, h: +h });
    }
    return cues.sort((a, b) => a.start - b.start);
}

// The cue showing at seconds, or null.
export function cueAt(cues, seconds) {
    let low = 0;
    let high = cues.length - 1;
    while (low <= high) {
        const middle = (low + high) >> 1;
        if (cues[middle].end <= seconds)
            low = middle + 1;
        else if (cues[middle].start > seconds)
            high = middle - 1;
        else
            return cues[middle];
    }
    return null;
}

// The track's cues once the server has them; [] when the video has none. Asks again
// as the server says while it still makes them, until stopped() is true.
async function loadCues(path, stopped) {
    for (let tries = 0; tries < MAX_TRIES && !stopped(); ++tries) {
        const query = new URLSearchParams({ path });
        if (currentClientId())
            query.set('id', currentClientId());
        const url = new URL(pageUrl(`/api/v1/previews?${query}`), location.href);
        const response = await fetch(url, { credentials: 'same-origin', cache: 'no-cache' });
        if (response.status !== 202)
            return response.ok ? parseThumbnailTrack(await response.text(), url) : [];
        const wait = Number.parseInt(response.headers.get('Retry-After'), 10);
        await new Promise((resolve) => setTimeout(resolve, (Number.isFinite(wait) && wait > 0 ? wait : 10) * 1000));
    }
    return [];
}

// Sheet URLs carry the client id, for servers that ask for their password.
function sheetUrl(url) {
    const parsed = new URL(url);
    if (currentClientId() && !parsed.searchParams.has('id'))
        parsed.searchParams.set('id', currentClientId());
    return parsed.href;
}

// Shows previews over the seek bar inside controls; returns the function that ends it.
export function attachPreviews(controls, seek, path) {
    let stopped = false;
    let cues = [];
    let hovering = false;
    let dragging = false;
    const picture = el('div', { class: 'preview-picture' });
    const time = el('span', { class: 'preview-time' });
    const box = el('div', { class: 'preview', hidden: true, 'aria-hidden': 'true' }, picture, time);
    controls.append(box);

    const show = (seconds, clientX) => {
        const cue = cueAt(cues, seconds);
        if (!cue) {
            box.hidden = true;
            return;
        }
        picture.style.setProperty('width', `${cue.w}px`);
        picture.style.setProperty('height', `${cue.h}px`);
        picture.style.setProperty('background-image', `url("${sheetUrl(cue.url)}")`);
        picture.style.setProperty('background-position', `-${cue.x}px -${cue.y}px`);
        time.textContent = clockText(seconds);
        box.hidden = false;
        const area = controls.getBoundingClientRect();
        const left = Math.min(Math.max(clientX - area.left - cue.w / 2, 0), Math.max(area.width - cue.w, 0));
        box.style.setProperty('left', `${left}px`);
    };
    // The bar's values run between the centres of the thumb at either end, so a time
    // is read where a click would put the thumb.
    const track = () => {
        const rect = seek.getBoundingClientRect();
        const inset = Math.min(THUMB_WIDTH, rect.width) / 2;
        return { left: rect.left + inset, width: Math.max(rect.width - 2 * inset, 0) };
    };
    const secondsAt = (clientX) => {
        const { left, width } = track();
        const fraction = width > 0 ? Math.min(Math.max((clientX - left) / width, 0), 1) : 0;
        return fraction * (Number(seek.max) || 0);
    };
    // Where the thumb of the bar is, for a drag by keyboard or touch.
    const thumbX = () => {
        const { left, width } = track();
        const max = Number(seek.max) || 0;
        return left + (max > 0 ? (Number(seek.value) / max) * width : 0);
    };
    const onMove = (event) => {
        hovering = true;
        if (!dragging)
            show(secondsAt(event.clientX), event.clientX);
    };
    const onLeave = () => {
        hovering = false;
        if (!dragging)
            box.hidden = true;
    };
    const onInput = () => {
        dragging = true;
        show(Number(seek.value), thumbX());
    };
    const onChange = () => {
        dragging = false;
        if (!hovering)
            box.hidden = true;
    };
    seek.addEventListener('pointermove', onMove);
    seek.addEventListener('pointerleave', onLeave);
    seek.addEventListener('input', onInput);
    seek.addEventListener('change', onChange);

    loadCues(path, () => stopped).then((loaded) => { cues = loaded; }).catch(() => {});
    return () => {
        stopped = true;
        seek.removeEventListener('pointermove', onMove);
        seek.removeEventListener('pointerleave', onLeave);
        seek.removeEventListener('input', onInput);
        seek.removeEventListener('change', onChange);
        box.remove();
    };
}
