// A time in a video as people read it: "1:02:03", or "2:03" under an hour; "0:00"
// for a time that is not known (a length before the metadata).

export function clockText(seconds) {
    if (!Number.isFinite(seconds) || seconds < 0)
        return '0:00';
    const whole = Math.floor(seconds);
    const h = Math.floor(whole / 3600);
    const m = Math.floor((whole % 3600) / 60);
    const s = String(whole % 60).padStart(2, '0');
    return h ? `${h}:${String(m).padStart(2, '0')}:${s}` : `${m}:${s}`;
}
