// The player's subtitle and audio menus. A text subtitle (a file beside the video or a
// text stream inside it) is shown by the browser as a <track> of the server's WebVTT,
// without touching the stream; a picture subtitle can only be burnt into the picture,
// and another audio stream only comes with another stream, so those choices restart
// the stream (sub=N, audio=N on "/play") where it is. The subtitle choice is kept in
// this browser for the profile as a language (or "off"), and the next video that has a
// subtitle in that language starts with it.

import { currentProfile, subtitleUrl, videoTracks } from './api.js';
import { el } from './dom.js';
import { language as pageLanguage, t } from './i18n.js';

const MEMORY_PREFIX = 'vembacast.subtitles:';
const OFF = 'off';

// ISO 639-1 names and the other ISO 639-2 spellings of the same languages, so that
// "film.ko.srt" and a stream marked "kor" count as the same language.
const LONG_NAMES = {
    ko: 'kor', en: 'eng', ja: 'jpn', zh: 'chi', fr: 'fre', de: 'ger', es: 'spa', it: 'ita',
    ru: 'rus', pt: 'por', nl: 'dut', sv: 'swe', th: 'tha', vi: 'vie', id: 'ind', ar: 'ara',
    hi: 'hin', zho: 'chi', fra: 'fre', deu: 'ger', nld: 'dut',
};

// The language of a track as one key ("ko", "ko-KR", "kor" give "kor"); '' when the
// track says none.
export function languageKey(text) {
    const base = String(text || '').trim().toLowerCase().split(/[-_]/)[0];
    if (!/^[a-z]{2,3}$/.test(base) || base === 'und' || base === 'zxx' || base === 'mul')
        return '';
    return LONG_NAMES[base] || base;
}

let displayNames = null;

function languageName(code) {
    if (!languageKey(code))
        return '';
    try {
        displayNames ||= new Intl.DisplayNames([pageLanguage], { type: 'language' });
        return displayNames.of(String(code).trim()) || code;
    } catch {
        return code;
    }
}

const CODEC_NAMES = { aac: 'AAC', ac3: 'AC-3', eac3: 'E-AC-3', mp3: 'MP3', mp2: 'MP2', dts: 'DTS',
    truehd: 'TrueHD', flac: 'FLAC', opus: 'Opus', vorbis: 'Vorbis', pcm_s16le: 'PCM' };

function channelsText(channels) {
    const names = { 1: t('mono'), 2: t('stereo'), 6: '5.1', 8: '7.1' };
    return names[channels] || (channels > 0 ? t('channelCount', channels) : '');
}

export function audioLabel(audio, position) {
    return [languageName(audio.language) || t('trackNumber', position + 1), audio.title,
        CODEC_NAMES[audio.codec] || String(audio.codec || '').toUpperCase(),
        channelsText(audio.channels)].filter(Boolean).join(' · ');
}

export function subtitleLabel(subtitle, position) {
    const label = [languageName(subtitle.language), subtitle.title].filter(Boolean).join(' – ')
        || t('trackNumber', position + 1);
    return subtitle.text ? label : t('burntIn', label);
}

function remembered() {
    return localStorage.getItem(MEMORY_PREFIX + currentProfile());
}

// Keeps a choice: "off", or the language of the subtitle chosen (one without a
// language leaves nothing to carry to the next video).
function remember(subtitle) {
    const key = MEMORY_PREFIX + currentProfile();
    const value = subtitle ? languageKey(subtitle.language) : OFF;
    if (value)
        localStorage.setItem(key, value);
    else
        localStorage.removeItem(key);
}

// The subtitle a video starts with (an index into tracks.subtitles, or -1): the
// profile's language, text before pictures; with nothing kept, the one the file marks
// as default or forced, else the SAMI file named like the video (the phone shows it).
export function firstSubtitle(subtitles, kept, videoName) {
    if (kept === OFF)
        return -1;
    const indexOf = (wanted) => {
        const text = subtitles.findIndex((s) => s.text && wanted(s));
        return text >= 0 ? text : subtitles.findIndex(wanted);
    };
    if (kept)
        return indexOf((s) => languageKey(s.language) === kept);
    const marked = indexOf((s) => s.default || s.forced);
    if (marked >= 0)
        return marked;
    const stem = String(videoName || '').replace(/\.[^.]*$/, '');
    return subtitles.findIndex((s) => s.kind === 'file' && s.file?.toLowerCase() === `${stem}.smi`.toLowerCase());
}

// The video's tracks, or null when they cannot be had (the player goes on without).
export async function loadTracks(path) {
    try {
        const tracks = await videoTracks(path);
        return Array.isArray(tracks.audio) && Array.isArray(tracks.subtitles) ? tracks : null;
    } catch {
        return null;
    }
}

// What the first stream is asked for: { audio, sub } for "/play" (-1: the usual),
// and the subtitle to show.
export function startChoice(tracks, videoName) {
    const subtitle = tracks ? firstSubtitle(tracks.subtitles, remembered(), videoName) : -1;
    const picture = subtitle >= 0 && !tracks.subtitles[subtitle].text;
    return { audio: -1, sub: picture ? tracks.subtitles[subtitle].index : -1, subtitle };
}

// True when the choice needs the server's stream (a file cannot change its sound or
// burn a subtitle in).
export function needsStream(choice) {
    return choice.audio > 0 || choice.sub >= 0;
}

function showText(video, path, subtitle, label) {
    video.querySelectorAll('track').forEach((track) => track.remove());
    if (!subtitle)
        return;
    const which = subtitle.kind === 'file' ? { file: subtitle.file } : { stream: subtitle.index };
    const lang = String(subtitle.language || '').trim();
    const element = el('track', {
        kind: 'subtitles', label, src: subtitleUrl(path, which),
        srclang: languageKey(lang) && /^[A-Za-z]{2,3}(-[A-Za-z0-9]{1,8})*$/.test(lang) ? lang : null,
    });
    video.append(element);
    element.track.mode = 'showing';
}

function menu(name, options, chosen) {
    const select = el('select', { 'aria-label': name },
        options.map(([value, label]) => el('option', { value, selected: value === chosen }, label)));
    return { select, box: el('label', { class: 'track-box' }, name, ' ', select) };
}

// The two menus for the player's bar; restart(choice) starts the stream again with
// { audio, sub } at the current position.
export function trackMenus(video, path, tracks, choice, restart) {
    const current = { ...choice };
    const subtitleValue = (i) => (i >= 0 ? String(i) : OFF);
    const subtitles = menu(t('subtitle'), [[OFF, t('subtitlesOff')],
        ...tracks.subtitles.map((s, i) => [String(i), subtitleLabel(s, i)])], subtitleValue(current.subtitle));
    const audio = menu(t('audio'),
        tracks.audio.map((a, i) => [String(a.index ?? i), audioLabel(a, i)]), String(Math.max(current.audio, 0)));
    const box = el('div', { class: 'tracks' }, tracks.subtitles.length ? subtitles.box : null,
        tracks.audio.length > 1 ? audio.box : null);

    const labelOf = (i) => subtitles.select.options[i + 1]?.textContent || '';
    const shown = tracks.subtitles[current.subtitle];
    if (shown?.text)
        showText(video, path, shown, labelOf(current.subtitle));

    const apply = async (next) => {
        const before = { ...current };
        Object.assign(current, next);
        const restarting = before.audio !== current.audio || before.sub !== current.sub;
        const subtitle = tracks.subtitles[current.subtitle];
        showText(video, path, subtitle?.text ? subtitle : null, labelOf(current.subtitle));
        if (!restarting)
            return;
        subtitles.select.disabled = audio.select.disabled = true;
        try {
            await restart({ audio: current.audio, sub: current.sub });
        } finally {
            subtitles.select.disabled = audio.select.disabled = false;
        }
    };
    subtitles.select.addEventListener('change', () => {
        const i = subtitles.select.value === OFF ? -1 : Number(subtitles.select.value);
        const subtitle = tracks.subtitles[i];
        remember(subtitle);
        apply({ subtitle: i, sub: subtitle && !subtitle.text ? subtitle.index : -1 });
    });
    audio.select.addEventListener('change', () => apply({ audio: Number(audio.select.value) }));
    return box;
}
