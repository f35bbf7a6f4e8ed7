// The browse page: the shares, then the folders and videos of one folder as a grid
// or a list, sorted by name, date or size.

import { ApiError, listFolder, RESULT } from './api.js';
import { openConvertDialog } from './conversions.js';
import { el, icon } from './dom.js';
import { homeRows, searchBox } from './home.js';
import { thumbnailOf } from './thumbnails.js';
import { t } from './i18n.js';
import { browseLink, downloadUrl, playLink, serverPath } from './routes.js';
import { loadPositions, markProgress } from './watched.js';

const SORT_KEY = 'vembacast.sort';
const LAYOUT_KEY = 'vembacast.layout';

export function sortOrder() {
    const stored = localStorage.getItem(SORT_KEY);
    return ['name', 'date', 'size'].includes(stored) ? stored : 'name';
}

const collator = new Intl.Collator(undefined, { numeric: true, sensitivity: 'base' });

// Sorts the files in place; the listing carries every file's time and size.
export function sortFiles(files, order) {
    if (order === 'date') {
        files.sort((a, b) => (b.modified || 0) - (a.modified || 0) || collator.compare(a.name, b.name));
    } else if (order === 'size') {
        files.sort((a, b) => (b.bytes || 0) - (a.bytes || 0) || collator.compare(a.name, b.name));
    } else {
        files.sort((a, b) => collator.compare(a.name, b.name));
    }
    return files;
}

function folderCard(folder, segments) {
    const count = Number.parseInt(folder.count, 10);
    return el('li', { class: 'item folder' },
        el('a', { href: browseLink([...segments, folder.name]), class: 'open' },
            el('span', { class: 'icon' }, icon('folder')),
            el('span', { class: 'name' }, folder.name),
            Number.isNaN(count) ? null : el('span', { class: 'meta' }, t('items', count))));
}

function videoCard(file, segments) {
    const path = [...segments, file.name];
    const facts = [file.playTime, file.size, file.resolution].filter(Boolean).join(' · ');
    return markProgress(el('li', { class: 'item video', dataset: file.known ? { name: file.name, known: '1' } : { name: file.name } },
        el('a', { href: playLink(path), class: 'open' },
            el('span', { class: 'frame' }, thumbnailOf(file, path),
                file.playTime ? el('span', { class: 'duration' }, file.playTime) : null),
            el('span', { class: 'name' }, file.name),
            el('span', { class: 'meta' }, facts,
                file.subtitle === '1' ? el('span', { class: 'badge', title: t('subtitle') }, 'SMI') : null,
                Number(file.encoding) >= 1 ? el('span', { class: 'badge direct', title: t('directPlay') }, 'MP4') : null)),
        el('a', { class: 'download', href: downloadUrl(path), download: file.name, title: t('download'), 'aria-label': t('download') }, icon('download')),
        // A converted file is converted already.
        file.encoding === '2' ? null : el('button', {
            type: 'button', class: 'convert', title: t('convert'), 'aria-label': t('convert'),
            onclick: () => openConvertDialog(path),
        }, icon('convert'))), path);
}

function toolbar(onChange) {
    const select = el('select', { id: 'sort', 'aria-label': t('sortBy') },
        ['name', 'date', 'size'].map((value) => el('option', {
            value, selected: value === sortOrder(),
        }, t(`sort${value[0].toUpperCase()}${value.slice(1)}`))));
    select.addEventListener('change', () => {
        localStorage.setItem(SORT_KEY, select.value);
        onChange();
    });
    const layout = el('button', { type: 'button', class: 'layout' },
        localStorage.getItem(LAYOUT_KEY) === 'list' ? t('viewGrid') : t('viewList'));
    layout.addEventListener('click', () => {
        const next = localStorage.getItem(LAYOUT_KEY) === 'list' ? 'grid' : 'list';
        localStorage.setItem(LAYOUT_KEY, next);
        onChange();
    });
    return el('div', { class: 'toolbar' }, el('label', {}, t('sortBy'), ' ', select), layout);
}

function notice(text) {
    return el('p', { class: 'notice' }, text);
}

// Fills view with the folder at segments (none: the shares).
export async function showFolder(view, segments, isCurrent) {
    view.replaceChildren(notice(t('loading')));
    // The home page's rows come from the library index, asked for meanwhile.
    const rows = segments.length ? Promise.resolve([]) : homeRows();
    const seen = segments.length ? loadPositions() : null;
    let listing;
    try {
        listing = await listFolder(serverPath(segments));
    } catch (error) {
        if (error instanceof ApiError && error.result === RESULT.NOT_EXIST) {
            view.replaceChildren(notice(t('noSuchFolder')));
            return;
        }
        throw error;
    }
    await seen;
    const render = async () => {
        const order = sortOrder();
        const folders = [...listing.folders].sort((a, b) => collator.compare(a.name, b.name));
        const files = sortFiles([...listing.files], order);
        if (!isCurrent())
            return;
        const layout = localStorage.getItem(LAYOUT_KEY) === 'list' ? 'list' : 'grid';
        const items = [...(segments.length ? folders : listing.folders).map((f) => folderCard(f, segments)),
            ...files.map((f) => videoCard(f, segments))];
        const body = items.length ? el('ul', { class: `items ${layout}` }, items)
            : notice(segments.length ? t('emptyFolder') : t('noShares'));
        if (segments.length)
            view.replaceChildren(toolbar(render), body);
        else
            view.replaceChildren(searchBox(), ...(await rows), el('h1', {}, t('shares')), body);
    };
    await render();
    if (listing.pending > 0)
        fillIn(view, segments, isCurrent).catch(() => {});
}

// Videos whose media properties were still being read are asked for again, a few times,
// and their cards replaced in place (the rest of the page, and the focus, stay). It runs
// beside the page: the next page need not wait for it.
const FILL_IN_WAIT_MS = 1500;
const FILL_IN_TRIES = 20;

async function fillIn(view, segments, isCurrent) {
    for (let tries = 0; tries < FILL_IN_TRIES; ++tries) {
        await new Promise((resolve) => setTimeout(resolve, FILL_IN_WAIT_MS));
        if (!isCurrent())
            return;
        const listing = await listFolder(serverPath(segments));
        if (!isCurrent())
            return;
        for (const file of listing.files) {
            const card = [...view.querySelectorAll('.item.video')].find((item) => item.dataset.name === file.name);
            if (file.known && card && !card.dataset.known)
                card.replaceWith(videoCard(file, segments));
        }
        if (listing.pending === 0)
            return;
    }
}
