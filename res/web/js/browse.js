// The browse page: the shares, then the folders and videos of one folder as a grid
// or a list, sorted by name, date or size.

import { ApiError, listFolder, RESULT, sizeBytes } from './api.js';
import { openConvertDialog } from './conversions.js';
import { el, icon } from './dom.js';
import { homeRows, searchBox } from './home.js';
import { thumbnailOf } from './thumbnails.js';
import { t } from './i18n.js';
import { browseLink, downloadUrl, playLink, serverPath } from './routes.js';

const SORT_KEY = 'vembacast.sort';
const LAYOUT_KEY = 'vembacast.layout';

export function sortOrder() {
    const stored = localStorage.getItem(SORT_KEY);
    return ['name', 'date', 'size'].includes(stored) ? stored : 'name';
}

const collator = new Intl.Collator(undefined, { numeric: true, sensitivity: 'base' });

// The file's modification time from the download answer's headers; 0 when unknown.
async function modifiedTime(segments) {
    try {
        const response = await fetch(downloadUrl(segments), { method: 'HEAD' });
        const stamp = Date.parse(response.headers.get('Last-Modified') || '');
        return Number.isNaN(stamp) ? 0 : stamp;
    } catch {
        return 0;
    }
}

// Sorts the files in place; by date it asks the server for the times first.
export async function sortFiles(files, order, folderSegments) {
    if (order === 'date') {
        await Promise.all(files.map(async (file) => {
            if (file.modified === undefined)
                file.modified = await modifiedTime([...folderSegments, file.name]);
        }));
        files.sort((a, b) => b.modified - a.modified || collator.compare(a.name, b.name));
    } else if (order === 'size') {
        files.sort((a, b) => sizeBytes(b.size) - sizeBytes(a.size) || collator.compare(a.name, b.name));
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
    return el('li', { class: 'item video', dataset: { name: file.name } },
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
        }, icon('convert')));
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
    const render = async () => {
        const order = sortOrder();
        const folders = [...listing.folders].sort((a, b) => collator.compare(a.name, b.name));
        const files = await sortFiles([...listing.files], order, segments);
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
}
