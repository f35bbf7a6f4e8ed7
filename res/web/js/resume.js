// Where the viewer stopped in each video, kept in this browser only.

const PREFIX = 'vembacast.pos:';
const NEAR_END = 10; // seconds: closer to the end than this counts as watched

export function savedPosition(path) {
    const value = Number.parseFloat(localStorage.getItem(PREFIX + path));
    return Number.isFinite(value) && value > 0 ? value : 0;
}

export function savePosition(path, seconds, duration) {
    if (!Number.isFinite(seconds))
        return;
    if (seconds < 5 || (Number.isFinite(duration) && duration > 0 && seconds > duration - NEAR_END))
        localStorage.removeItem(PREFIX + path);
    else
        localStorage.setItem(PREFIX + path, seconds.toFixed(1));
}
