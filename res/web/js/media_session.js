// The player as the system sees it: the lock screen, the notification and the media
// keys show the video's name, its folder and its picture, and their buttons play,
// pause, skip, seek and move to the folder's previous or next video. The browser
// keeps one session for the page, so the player that attaches last owns it, and its
// detach clears everything it set.

import { pageUrl } from './api.js';
import { serverPath } from './routes.js';

const SKIP_SECONDS = 10;

// { title, artist, album, artwork } for the file at segments (share, folders…, name):
// the folder is the artist line, which lock screens show under the title; the
// artwork is the server's picture of the video in the size the folder's grid asks for
// (so it is made once), with the app's icon as a fallback.
export function metadataOf(segments, playTime) {
    const folders = segments.slice(0, -1);
    const query = new URLSearchParams({
        path: serverPath(segments), width: '320', height: '180', playtime: playTime || '',
    });
    return {
        title: segments.at(-1) || '',
        artist: folders.at(-1) || '',
        album: folders.join(' › '),
        artwork: [
            { src: pageUrl(`/getThumbnail?${query}`), sizes: '320x180', type: 'image/jpeg' },
            { src: pageUrl('icons/icon-512.png'), sizes: '512x512', type: 'image/png' },
        ],
    };
}

function setHandler(session, action, handler) {
    try {
        session.setActionHandler(action, handler);
    } catch {
        // An action this browser does not know: its button is simply not offered.
    }
}

// Attaches the session to video; go(segments) opens another video of the folder.
// Returns { setPlayTime(text), setNeighbours({ previous, next }), detach() }: the
// play time ("00:01:30") picks the same picture the grid shows.
export function attachMediaSession(video, segments, go) {
    const session = navigator.mediaSession;
    if (!session || typeof window.MediaMetadata !== 'function')
        return { setPlayTime() {}, setNeighbours() {}, detach() {} };
    const describe = (playTime) => { session.metadata = new window.MediaMetadata(metadataOf(segments, playTime)); };
    describe('');
    const seekTo = (seconds) => {
        const end = Number.isFinite(video.duration) ? video.duration : Infinity;
        video.currentTime = Math.min(Math.max(0, seconds), end);
    };
    const handlers = {
        play: () => video.play().catch(() => {}),
        pause: () => video.pause(),
        seekbackward: (details) => seekTo(video.currentTime - (details?.seekOffset || SKIP_SECONDS)),
        seekforward: (details) => seekTo(video.currentTime + (details?.seekOffset || SKIP_SECONDS)),
        seekto: (details) => {
            if (Number.isFinite(details?.seekTime))
                seekTo(details.seekTime);
        },
        previoustrack: null,
        nexttrack: null,
    };
    for (const [action, handler] of Object.entries(handlers))
        setHandler(session, action, handler);

    // The lock screen's own seek bar follows the position; a duration not yet known
    // (or a stream without end) leaves the bar off rather than wrong.
    const showPosition = () => {
        session.playbackState = video.paused ? 'paused' : 'playing';
        if (typeof session.setPositionState !== 'function')
            return;
        const duration = video.duration;
        try {
            if (Number.isFinite(duration) && duration > 0)
                session.setPositionState({
                    duration, position: Math.min(video.currentTime, duration),
                    playbackRate: video.playbackRate || 1,
                });
        } catch {
            // A position the browser finds inconsistent is left for the next event.
        }
    };
    const events = ['play', 'pause', 'durationchange', 'seeked', 'ratechange'];
    for (const name of events)
        video.addEventListener(name, showPosition);

    return {
        setPlayTime: describe,
        setNeighbours({ previous, next }) {
            setHandler(session, 'previoustrack', previous ? () => go(previous) : null);
            setHandler(session, 'nexttrack', next ? () => go(next) : null);
        },
        detach() {
            for (const name of events)
                video.removeEventListener(name, showPosition);
            for (const action of Object.keys(handlers))
                setHandler(session, action, null);
            session.metadata = null;
            session.playbackState = 'none';
        },
    };
}
