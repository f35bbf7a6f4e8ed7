// The player page: one <video> element, its own controls (so a portrait video can be
// turned upright without turning the controls), quality choice, previous and next in
// the folder, keyboard control and the remembered position.

import { ApiError, fileInfo, listFolder, pageUrl, play, playEnd, playSeconds, resolutionOf, RESULT, serverPathOf } from './api.js';
import { sortFiles, sortOrder } from './browse.js';
import { clockText } from './clock.js';
import { openConvertDialog } from './conversions.js';
import { el, icon } from './dom.js';
import { attachMediaSession } from './media_session.js';
import { t } from './i18n.js';
import { attachPreviews } from './previews.js';
import { savedPosition, savePosition } from './resume.js';
import { loadTracks, needsStream, startChoice, trackMenus } from './tracks.js';
import { attachStream } from './stream.js';
import { browseLink, downloadUrl, playLink, serverPath } from './routes.js';
import { onWake, streamReviver } from './wake.js';
import { describeSeek, playNextOnEnd, showFailure, startPlaying } from './playback.js';

const MAX_WIDTH = 1920;
const MAX_HEIGHT = 1080;
const SKIP_SECONDS = 10;

// The screen size the server encodes for: the stage in device pixels, at most 1920x1080.
export function screenSize(cssWidth, cssHeight, ratio) {
    const scale = Number.isFinite(ratio) && ratio > 0 ? ratio : 1;
    const width = Math.round(Math.max(cssWidth, 160) * scale);
    const height = Math.round(Math.max(cssHeight, 90) * scale);
    return { width: Math.min(width, MAX_WIDTH), height: Math.min(height, MAX_HEIGHT) };
}

async function neighbours(segments) {
    const folder = segments.slice(0, -1);
    try {
        const listing = await listFolder(serverPath(folder));
        const files = await sortFiles([...listing.files], sortOrder(), folder);
        const index = files.findIndex((file) => file.name === segments.at(-1));
        const at = (i) => (i >= 0 && i < files.length ? [...folder, files[i].name] : null);
        return index < 0 ? {} : { previous: at(index - 1), next: at(index + 1) };
    } catch {
        return {};
    }
}

function buildControls(video, stage) {
    const toggle = el('button', { type: 'button', class: 'toggle', 'aria-label': t('play') }, icon('play'));
    const seek = el('input', { type: 'range', class: 'seek', min: '0', max: '0', step: '0.1', value: '0' });
    const time = el('span', { class: 'time' }, '0:00 / 0:00');
    const full = el('button', { type: 'button', class: 'full', 'aria-label': t('fullscreen') }, icon('fullscreen'));
    toggle.addEventListener('click', () => (video.paused ? video.play().catch(() => {}) : video.pause()));
    full.addEventListener('click', () => toggleFullscreen(stage));
    let dragging = false;
    seek.addEventListener('input', () => { dragging = true; time.textContent = `${clockText(+seek.value)} / ${clockText(video.duration)}`; });
    seek.addEventListener('change', () => { dragging = false; video.currentTime = +seek.value; });
    const update = () => {
        if (stage.dataset.failed)
            return; // a failed video has no length nor a time to show
        if (Number.isFinite(video.duration))
            seek.max = String(video.duration);
        if (!dragging) {
            seek.value = String(video.currentTime);
            time.textContent = `${clockText(video.currentTime)} / ${clockText(video.duration)}`;
        }
        const paused = video.paused;
        toggle.replaceChildren(icon(paused ? 'play' : 'pause'));
        toggle.setAttribute('aria-label', paused ? t('play') : t('pause'));
    };
    for (const name of ['timeupdate', 'durationchange', 'play', 'pause', 'seeked'])
        video.addEventListener(name, update);
    describeSeek(seek, video); // after update: it reads the slider's new value
    return el('div', { class: 'controls' }, toggle, seek, time, full);
}

function toggleFullscreen(stage) {
    if (document.fullscreenElement)
        document.exitFullscreen().catch(() => {});
    else
        stage.requestFullscreen?.().catch(() => {});
}

function keyHandler(video, stage) {
    return (event) => {
        if (event.target instanceof HTMLSelectElement || event.altKey || event.ctrlKey || event.metaKey)
            return;
        if (document.querySelector('dialog[open]'))
            return;
        const actions = {
            ' ': () => (video.paused ? video.play().catch(() => {}) : video.pause()),
            ArrowLeft: () => { video.currentTime = Math.max(0, video.currentTime - SKIP_SECONDS); },
            ArrowRight: () => { video.currentTime = Math.min(video.duration || Infinity, video.currentTime + SKIP_SECONDS); },
            ArrowUp: () => { video.volume = Math.min(1, video.volume + 0.1); },
            ArrowDown: () => { video.volume = Math.max(0, video.volume - 0.1); },
            f: () => toggleFullscreen(stage),
            F: () => toggleFullscreen(stage),
        };
        const action = actions[event.key];
        if (action) {
            event.preventDefault();
            action();
        }
    };
}

// Keeps the turned video's box the stage's size with width and height swapped.
function turnUpright(stage) {
    stage.classList.add('turned');
    const observer = new ResizeObserver(() => {
        stage.style.setProperty('--stage-w', `${stage.clientWidth}px`);
        stage.style.setProperty('--stage-h', `${stage.clientHeight}px`);
    });
    observer.observe(stage);
    return () => observer.disconnect();
}

// The source's own picture is the browser's first variant (7); its HD variants
// follow it. A phone's variants (1 to 4) are named by their rate.
const ORIGINAL_VARIANT = 7;

export function levelName(level) {
    if (level.variant === ORIGINAL_VARIANT)
        return t('original');
    if (level.variant > ORIGINAL_VARIANT && level.height > 0)
        return t('lines', level.height);
    return t('kbits', Math.round(level.bitrate / 1000));
}

// The quality menu (best first) and, beside it, the name of the variant that plays.
function qualityChooser(levels, chosen, setLevel) {
    const order = levels.map((level, index) => index).reverse();
    const select = el('select', { class: 'quality', 'aria-label': t('quality') },
        order.map((index) => el('option', { value: index, selected: index === chosen },
            levelName(levels[index]))));
    select.addEventListener('change', () => setLevel(Number(select.value)));
    const now = el('span', { class: 'quality-now', 'aria-live': 'polite' });
    const box = el('label', { class: 'quality-box' }, t('quality'), ' ', select, ' ', now);
    return {
        box,
        playing(index) {
            if (!levels[index])
                return;
            select.value = String(index);
            now.textContent = t('playing', levelName(levels[index]));
            now.dataset.variant = String(levels[index].variant);
        },
    };
}

function failText(error) {
    if (error instanceof ApiError && error.result === RESULT.NOT_EXIST)
        return t('noSuchFile');
    if (error instanceof ApiError && error.result === RESULT.FULL_USER)
        return t('tooMany');
    return t('playFailed');
}

// Shows the player for the file at segments; returns the function that ends it.
export async function showPlayer(view, segments, start) {
    const path = serverPath(segments);
    const video = el('video', { playsinline: true, preload: 'auto' });
    const stage = el('div', { class: 'stage' }, video);
    const message = el('p', { class: 'notice', hidden: true });
    const nav = el('div', { class: 'nav' });
    const title = el('h1', { class: 'title' }, segments.at(-1));
    const convertButton = el('button', { type: 'button', class: 'convert', onclick: () => openConvertDialog(segments) },
        icon('convert'), t('convert'));
    const bar = el('div', { class: 'bar' },
        el('a', { href: browseLink(segments.slice(0, -1)), class: 'back' }, '← ', t('back')),
        nav,
        convertButton,
        el('a', { class: 'download', href: downloadUrl(segments), download: segments.at(-1) }, t('download')));
    view.replaceChildren(el('section', { class: 'player' }, stage, buildControls(video, stage), title, bar, message));

    const cleanups = [];
    let ended = false;
    const fail = (text) => showFailure(stage, message, text);
    const keys = keyHandler(video, stage);
    document.addEventListener('keydown', keys);
    cleanups.push(() => document.removeEventListener('keydown', keys));
    const mediaSession = attachMediaSession(video, segments, (to) => { location.hash = playLink(to); });
    cleanups.push(() => mediaSession.detach());
    const remember = () => savePosition(path, video.currentTime, video.duration);
    let lastSaved = 0;
    video.addEventListener('timeupdate', () => {
        // Once the page is left the element is emptied, and its time falls to 0.
        if (ended)
            return;
        if (Math.abs(video.currentTime - lastSaved) >= 5) {
            lastSaved = video.currentTime;
            remember();
        }
    });
    video.addEventListener('ended', remember);

    let live = false;
    const finish = async (leavingPage) => {
        if (ended)
            return;
        ended = true;
        if (video.currentTime > 0)
            remember();
        cleanups.reverse().forEach((cleanup) => cleanup());
        video.remove();
        if (live)
            await playEnd(leavingPage);
    };
    const onPageHide = () => finish(true);
    window.addEventListener('pagehide', onPageHide);
    cleanups.push(() => window.removeEventListener('pagehide', onPageHide));

    const afterEnd = playNextOnEnd(video, stage, (next) => { location.hash = playLink(next); });
    cleanups.push(afterEnd.cancel);
    neighbours(segments).then(({ previous, next }) => {
        if (ended)
            return;
        mediaSession.setNeighbours({ previous, next });
        afterEnd.setNext(next);
        nav.replaceChildren(...[
            previous ? el('a', { href: playLink(previous), class: 'previous' }, icon('previous'), t('previous')) : null,
            next ? el('a', { href: playLink(next), class: 'next' }, t('next'), icon('next')) : null,
        ].filter(Boolean));
    });

    let stream = null;
    let chooser = null;
    let unwake = null;
    cleanups.push(() => { unwake?.(); stream?.destroy(); });
    video.addEventListener('error', () => fail(t('playFailed')));
    // Starts the stream at `at` seconds; again with other tracks ({ audio, sub }), where
    // the file itself cannot play them.
    const open = async (info, at, tracks) => {
        unwake?.();
        unwake = null;
        stream?.destroy();
        stream = null;
        chooser?.box.remove();
        chooser = null;
        const direct = !live && !needsStream(tracks)
            && Number(info.encoding) >= 1 && serverPathOf(info.playdurl || '').startsWith('/playdirect/');
        let source;
        let startVariant = '';
        let replay = null;
        if (direct) {
            source = pageUrl(serverPathOf(info.playdurl));
        } else {
            const size = screenSize(stage.clientWidth, stage.clientHeight, window.devicePixelRatio);
            live = true;
            ({ url: source, startVariant } = await play(path, size.width, size.height, info.playTime || '00:00:00', tracks));
            source = pageUrl(source);
            replay = async () => pageUrl((await play(path, size.width, size.height, info.playTime || '00:00:00', tracks)).url);
            // A browser's variants come upright; a phone's stream turns a portrait
            // picture on its side, and the page turns it back.
            const picture = resolutionOf(info.resolution);
            if (!startVariant && picture && picture.height >= picture.width && !stage.classList.contains('turned'))
                cleanups.push(turnUpright(stage));
        }
        if (ended)
            return;
        const attached = await attachStream(video, source, {
            hls: !direct, start: at, startVariant,
            onLevels: (levels, chosen) => {
                if (levels.length > 1) {
                    chooser = qualityChooser(levels, chosen, (i) => attached.setLevel(i));
                    bar.insertBefore(chooser.box, bar.lastChild);
                    chooser.playing(chosen);
                }
            },
            onLevelSwitched: (index) => chooser?.playing(index),
            onFatal: () => fail(t('playFailed')),
        });
        if (ended) {
            attached.destroy();
        } else {
            stream = attached;
            if (replay) {
                const revive = streamReviver(video, attached, source, replay);
                unwake = onWake(() => revive().then(() => { message.hidden = true; }, () => fail(t('playFailed'))));
            }
        }
        startPlaying(video, stage); // a browser may want a click first
    };

    try {
        const tracksLoaded = loadTracks(path);
        const info = await fileInfo(path);
        const tracks = await tracksLoaded;
        if (ended)
            return finish;
        convertButton.hidden = info.encoding === '2';
        mediaSession.setPlayTime(info.playTime);
        const controls = view.querySelector('.controls');
        cleanups.push(attachPreviews(controls, controls.querySelector('.seek'), path));
        const choice = startChoice(tracks, segments.at(-1));
        await open(info, start ?? savedPosition(path), choice);
        if (tracks && !ended)
            bar.insertBefore(trackMenus(video, path, tracks, choice, (next) => open(info, video.currentTime, next).catch((error) => fail(failText(error)))), bar.lastChild);
        stage.dataset.duration = String(playSeconds(info.playTime));
    } catch (error) {
        fail(failText(error));
        // A file that is gone can be neither converted nor downloaded.
        if (error instanceof ApiError && error.result === RESULT.NOT_EXIST)
            bar.querySelectorAll('.convert, .download').forEach((item) => { item.hidden = true; });
        if (!(error instanceof ApiError))
            throw error;
    }
    return finish;
}
