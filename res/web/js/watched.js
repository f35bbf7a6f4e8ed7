// How far this browser's profile got in each video of a folder: a bar along the foot
// of the picture, and a mark on the videos watched to the end. The positions come from
// the server (the profile's latest ones), read once per folder page.

import { profilePositions } from './api.js';
import { el } from './dom.js';
import { t } from './i18n.js';

let positions = new Map(); // path ("/Movies/a.mkv") -> the profile's position entry

// Reads the profile's positions for the cards drawn next; a failure leaves no marks.
export async function loadPositions() {
    try {
        const answer = await profilePositions();
        positions = new Map((answer.positions || []).map((entry) => [entry.path, entry]));
    } catch {
        positions = new Map(); // the listing itself says what went wrong, if anything
    }
}

// The share of the video seen, 0 to 1; a watched video counts as whole.
export function shareSeen(entry) {
    if (!entry)
        return 0;
    if (entry.watched)
        return 1;
    const duration = Number(entry.duration) || Number(entry.media?.duration) || 0;
    return duration > 0 ? Math.min(1, Math.max(0, Number(entry.position) / duration)) : 0;
}

// Adds the bar and the mark to a video's card; segments name the video.
export function markProgress(card, segments) {
    const entry = positions.get(`/${segments.join('/')}`);
    const seen = shareSeen(entry);
    if (seen <= 0)
        return card;
    const done = el('span');
    // Set through the style object: the page's policy refuses style attributes.
    done.style.width = `${(100 * seen).toFixed(1)}%`;
    card.querySelector('.frame')?.append(el('span', { class: 'progress', 'aria-hidden': 'true' }, done));
    if (entry.watched) {
        card.classList.add('watched');
        card.querySelector('.meta')?.append(el('span', { class: 'badge seen' }, t('watched')));
    }
    return card;
}
