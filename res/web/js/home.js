// Videos of every share from the server's library index: the home page's rows
// ("Continue watching" for this browser's profile, "Recently added"), the search box,
// and the search page.

import { ApiError, recentVideos, searchVideos, unfinishedVideos } from './api.js';
import { thumbnailOf } from './thumbnails.js';
import { clockText } from './clock.js';
import { el } from './dom.js';
import { t } from './i18n.js';
import { browseLink, playLink, segmentsOf } from './routes.js';

function tile(entry, position) {
    const segments = segmentsOf(entry.path);
    const duration = entry.media?.duration || position?.duration || 0;
    const folder = segmentsOf(entry.folder);
    const meta = [];
    if (position && duration > position.position)
        meta.push(t('left', clockText(duration - position.position)));
    else if (duration)
        meta.push(clockText(duration));
    let progress = null;
    if (position && duration) {
        const done = el('span');
        // Set through the style object: the page's policy refuses style attributes.
        done.style.width = `${Math.min(100, (100 * position.position) / duration).toFixed(1)}%`;
        progress = el('span', { class: 'progress', 'aria-hidden': 'true' }, done);
    }
    return el('li', { class: 'item video', dataset: { name: entry.name } },
        el('a', { href: playLink(segments, position?.position), class: 'open' },
            el('span', { class: 'frame' }, thumbnailOf({ playTime: '', modified: entry.modified, bytes: entry.size }, segments), progress),
            el('span', { class: 'name' }, entry.name),
            el('span', { class: 'meta' }, meta.join(' · '))),
        el('a', { class: 'where', href: browseLink(folder) }, t('inFolder', folder.join(' / ') || '/')));
}

function row(title, tiles, className) {
    const id = `row-${className}`;
    return el('section', { class: `row ${className}`, 'aria-labelledby': id },
        el('h2', { id }, title),
        el('ul', { class: 'items shelf' }, tiles));
}

// The rows of the home page; a row the server cannot give is left out.
export async function homeRows() {
    const quietly = (request) => request.catch((error) => {
        if (error instanceof ApiError)
            return null;
        throw error;
    });
    const [unfinished, recent] = await Promise.all([quietly(unfinishedVideos()), quietly(recentVideos())]);
    const rows = [];
    if (unfinished?.positions?.length)
        rows.push(row(t('continueWatching'), unfinished.positions.map((p) => tile(p, p)), 'continue'));
    if (recent?.files?.length)
        rows.push(row(t('recentlyAdded'), recent.files.map((file) => tile(file)), 'recent'));
    return rows;
}

export function searchBox(initial = '') {
    const input = el('input', {
        type: 'search', id: 'search', name: 'q', value: initial, maxlength: '200',
        placeholder: t('searchPlaceholder'), autocomplete: 'off', enterkeyhint: 'search',
    });
    const form = el('form', { class: 'search', role: 'search' },
        el('label', { for: 'search', class: 'visually-hidden' }, t('searchLabel')), input,
        el('button', { type: 'submit' }, t('search')));
    form.addEventListener('submit', (event) => {
        event.preventDefault();
        const query = input.value.trim();
        if (query)
            location.hash = `#/search?${new URLSearchParams({ q: query })}`;
    });
    return form;
}

// Fills view with the videos whose names hold the query's words.
export async function showSearch(view, query, isCurrent) {
    const box = searchBox(query);
    if (!query.trim()) {
        view.replaceChildren(box);
        return;
    }
    view.replaceChildren(box, el('p', { class: 'notice' }, t('loading')));
    let answer;
    try {
        answer = await searchVideos(query.trim());
    } catch (error) {
        if (!(error instanceof ApiError))
            throw error;
        answer = { files: [] };
    }
    if (!isCurrent())
        return;
    const files = answer.files || [];
    const parts = [box, el('h1', {}, t('searchResults', files.length))];
    parts.push(files.length ? el('ul', { class: 'items grid' }, files.map((file) => tile(file)))
        : el('p', { class: 'notice' }, t('noResults')));
    if (answer.more)
        parts.push(el('p', { class: 'notice' }, t('searchMore')));
    view.replaceChildren(...parts);
}
