// Where the viewer stopped in each video: kept in this browser, and told to the server
// for the profile of this browser, so "Continue watching" offers it in any browser.

import { reportPosition } from './api.js';

const PREFIX = 'vembacast.pos:';
const NEAR_END = 10; // seconds: closer to the end than this counts as watched

export function savedPosition(path) {
    const value = Number.parseFloat(localStorage.getItem(PREFIX + path));
    return Number.isFinite(value) && value > 0 ? value : 0;
}

export function savePosition(path, seconds, duration) {
    if (!Number.isFinite(seconds))
        return;
    // A moment at the very start says nothing the server should keep.
    if (seconds >= 5)
        reportPosition(path, seconds, duration);
    if (seconds < 5 || (Number.isFinite(duration) && duration > 0 && seconds > duration - NEAR_END))
        localStorage.removeItem(PREFIX + path);
    else
        localStorage.setItem(PREFIX + path, seconds.toFixed(1));
}
