// A live stream after the screen was off. A phone freezes a hidden page, and a desktop
// may leave a hidden tab for hours: meanwhile the server's watcher stops an idle engine
// and the session's play may end (or the server restart), so the player's next segment
// request fails. When the page wakes, the player loads again at the position it
// shows: from the same playlists while the server still streams them, else from the
// playlists of a new "/play".

export const LONG_HIDDEN_MS = 60 * 1000;

// Calls wake() when the page resumes after it was frozen, or becomes visible after it
// was hidden for at least longHiddenMs (now() is the clock). Returns the function
// that stops watching.
export function onWake(wake, { longHiddenMs = LONG_HIDDEN_MS, now = () => Date.now() } = {}) {
    let hiddenAt = document.visibilityState === 'hidden' ? now() : null;
    const visibility = () => {
        if (document.visibilityState === 'hidden') {
            hiddenAt ??= now();
            return;
        }
        const away = hiddenAt === null ? 0 : now() - hiddenAt;
        hiddenAt = null;
        if (away >= longHiddenMs)
            wake();
    };
    const resumed = () => wake();
    document.addEventListener('visibilitychange', visibility);
    document.addEventListener('resume', resumed);
    return () => {
        document.removeEventListener('visibilitychange', visibility);
        document.removeEventListener('resume', resumed);
    };
}

async function stillStreamed(playlist) {
    try {
        const response = await fetch(playlist, { credentials: 'same-origin', cache: 'no-store' });
        await response.arrayBuffer();
        return response.ok;
    } catch {
        return false;
    }
}

// Returns the wake handler of a live stream: stream.restart(position, source?) loads
// again, replay() asks "/play" again and gives the new master playlist. One revival
// runs at a time; a wake during one is the same wake. The handler's promise rejects
// when the stream could not be had again (the file went, the server refused).
export function streamReviver(video, stream, playlist, replay) {
    let current = playlist;
    let running = null;
    const revive = async () => {
        const playing = !video.paused;
        const at = video.currentTime;
        if (await stillStreamed(current)) {
            stream.restart(at);
        } else {
            current = await replay();
            stream.restart(at, current);
        }
        if (playing)
            video.play().catch(() => {});
    };
    return () => {
        running ??= revive().finally(() => { running = null; });
        return running;
    };
}
