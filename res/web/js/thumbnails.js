// A video's small picture, asked of the server by the video's path.

import { pageUrl } from './api.js';
import { el } from './dom.js';
import { serverPath } from './routes.js';

export function thumbnailOf(file, segments) {
    const query = new URLSearchParams({
        path: serverPath(segments), width: '320', height: '180', playtime: file.playTime || '',
    });
    const image = el('img', { class: 'thumb', alt: '', loading: 'lazy', src: pageUrl(`/getThumbnail?${query}`) });
    image.addEventListener('error', () => image.classList.add('missing'), { once: true });
    return image;
}
