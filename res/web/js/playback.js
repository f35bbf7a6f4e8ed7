// What the player page shows around the picture: the seek slider's spoken time, a
// failure that stops the controls from pretending to play, a play button over the
// stage when the browser will not start on its own, and the next video of the folder
// once this one has ended.

import { el, icon } from './dom.js';
import { clockText } from './clock.js';
import { t } from './i18n.js';

const NEXT_DELAY_SECONDS = 5;

// "1:02:03" or "2:03"; empty for a length that is not known.
function clockOf(seconds) {
    return Number.isFinite(seconds) && seconds >= 0 ? clockText(seconds) : '';
}

// A screen reader says "1:05 of 1:30" of the slider, not a bare number of seconds.
export function describeSeek(seek, video) {
    seek.setAttribute('aria-label', t('seek'));
    const update = () => {
        const now = clockOf(Number(seek.value)) || '0:00';
        seek.setAttribute('aria-valuetext', t('seekText', now, clockOf(video.duration)));
    };
    for (const name of ['timeupdate', 'durationchange', 'seeked'])
        video.addEventListener(name, update);
    seek.addEventListener('input', update);
    update();
}

// Shows the failure on the stage itself (always in view with the picture) and leaves
// controls that say what is true: nothing plays, no length is known.
export function showFailure(stage, message, text) {
    message.textContent = text;
    message.hidden = false;
    message.classList.add('error', 'stage-message');
    message.setAttribute('role', 'alert');
    if (message.parentNode !== stage)
        stage.append(message);
    stage.dataset.failed = '1';
    stage.querySelector('.play-overlay')?.remove();
    const video = stage.querySelector('video');
    video?.pause();
    const controls = stage.parentNode?.querySelector('.controls');
    if (!controls)
        return;
    const toggle = controls.querySelector('.toggle');
    toggle.replaceChildren(icon('play'));
    toggle.setAttribute('aria-label', t('play'));
    toggle.disabled = true;
    const seek = controls.querySelector('.seek');
    seek.disabled = true;
    seek.value = '0';
    seek.max = '0';
    seek.removeAttribute('aria-valuetext');
    controls.querySelector('.time').textContent = t('noLength');
}

// Starts playing; a browser that wants a click first gets a large play button over
// the stage instead of a paused black picture.
export function startPlaying(video, stage) {
    return video.play().catch((error) => {
        if (error?.name !== 'NotAllowedError' || stage.dataset.failed || !video.isConnected)
            return;
        const button = el('button', { type: 'button', class: 'play-overlay', 'aria-label': t('play') }, icon('play'));
        const removeOverlay = () => button.remove();
        button.addEventListener('click', () => {
            video.play().then(removeOverlay, () => {});
        });
        video.addEventListener('play', removeOverlay, { once: true });
        stage.append(button);
        button.focus({ preventScroll: true });
    });
}

// Once the video has ended, the next one of the folder starts after a short notice
// that can be cancelled or skipped. open(segments) shows a video. Returns { setNext,
// cancel } for the page: the next video is known once the folder has been read.
export function playNextOnEnd(video, stage, open) {
    let next = null;
    let timer = null;
    let notice = null;
    const cancel = () => {
        clearInterval(timer);
        timer = null;
        notice?.remove();
        notice = null;
    };
    const countDown = () => {
        if (!next || stage.dataset.failed || !video.isConnected)
            return;
        const target = next;
        let left = NEXT_DELAY_SECONDS;
        const text = el('span', { class: 'next-text' }, t('nextUp', target.at(-1), left));
        notice = el('div', { class: 'next-up', role: 'status' }, text,
            el('button', { type: 'button', class: 'next-now', onclick: () => { cancel(); open(target); } }, t('playNow')),
            el('button', { type: 'button', class: 'next-cancel', onclick: cancel }, t('cancel')));
        stage.append(notice);
        timer = setInterval(() => {
            left -= 1;
            if (left > 0) {
                text.textContent = t('nextUp', target.at(-1), left);
                return;
            }
            cancel();
            open(target);
        }, 1000);
    };
    video.addEventListener('ended', countDown);
    // Playing or jumping back means the person stays with this video.
    video.addEventListener('play', cancel);
    video.addEventListener('seeking', cancel);
    return {
        setNext(segments) { next = segments || null; },
        cancel,
    };
}
