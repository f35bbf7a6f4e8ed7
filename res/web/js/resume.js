// Where the viewer stopped in each video: kept in this browser, and told to the server
// for the profile of this browser, so "Continue watching" offers it in any browser.

import { currentProfile, DEFAULT_PROFILE, reportPosition } from './api.js';

const PREFIX = 'vembacast.pos:';
const NEAR_END = 10; // seconds: closer to the end than this counts as watched

// Each profile has its own positions in this browser too ("Home" keeps the plain key).
function keyOf(path) {
    const profile = currentProfile();
    return profile === DEFAULT_PROFILE ? PREFIX + path : `${PREFIX}${profile}\n${path}`;
}

export function savedPosition(path) {
    const value = Number.parseFloat(localStorage.getItem(keyOf(path)));
    return Number.isFinite(value) && value > 0 ? value : 0;
}

export function savePosition(path, seconds, duration) {
    if (!Number.isFinite(seconds))
        return;
    // A moment at the very start says nothing the server should keep; the end of a
    // short video does (it makes the video watched).
    const atEnd = Number.isFinite(duration) && duration > 0 && seconds >= 0.9 * duration;
    if (seconds >= 5 || atEnd)
        reportPosition(path, seconds, duration);
    if (seconds < 5 || (Number.isFinite(duration) && duration > 0 && seconds > duration - NEAR_END))
        localStorage.removeItem(keyOf(path));
    else
        localStorage.setItem(keyOf(path), seconds.toFixed(1));
}
