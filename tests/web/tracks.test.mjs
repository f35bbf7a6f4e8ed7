// Subtitle and audio tracks in the browser client, in Chromium against the real daemon
// and engine: a SubRip file beside a video and a SubRip stream inside an MKV, each
// chosen in the player's menu and active at its cue's time, the choice carried to the
// next video, and the second of two audio streams (tones of different pitch) heard in
// the segments of the direct stream and of a transcode once it is chosen.

import { after, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { rmSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { daemonAndBrowser, ffmpeg, screenshot, tempFolder } from './support.mjs';

const KOREAN_CUE = '안녕하세요\n두 번째 줄';
const media = tempFolder('tracks');
writeFileSync(join(media, 'inside.srt'),
    `1\n00:00:03,000 --> 00:00:06,000\n${KOREAN_CUE}\n\n2\n00:00:12,000 --> 00:00:14,000\n마지막 줄\n`);
// 20 s with a key frame every 2 s: a 440 Hz tone in Korean, a 1500 Hz one in English,
// and the Korean SubRip as a stream.
ffmpeg('-f', 'lavfi', '-i', 'testsrc2=duration=20:size=320x240:rate=24',
    '-f', 'lavfi', '-i', 'sine=frequency=440:duration=20', '-f', 'lavfi', '-i', 'sine=frequency=1500:duration=20',
    '-i', join(media, 'inside.srt'), '-map', '0', '-map', '1', '-map', '2', '-map', '3',
    '-c:v', 'libx264', '-preset', 'ultrafast', '-g', '48', '-pix_fmt', 'yuv420p', '-c:a', 'aac', '-c:s', 'srt',
    '-metadata:s:a:0', 'language=kor', '-metadata:s:a:1', 'language=eng', '-metadata:s:s:0', 'language=kor',
    join(media, 'tones.mkv'));
rmSync(join(media, 'inside.srt'));
// Played as it is (H.264 and AAC in MP4), with English subtitles beside it.
ffmpeg('-f', 'lavfi', '-i', 'testsrc2=duration=8:size=320x240:rate=25', '-f', 'lavfi', '-i', 'sine=duration=8',
    '-c:v', 'libx264', '-preset', 'ultrafast', '-pix_fmt', 'yuv420p', '-c:a', 'aac', '-shortest',
    '-movflags', '+faststart', join(media, 'beside.mp4'));
writeFileSync(join(media, 'beside.en.srt'),
    '1\n00:00:02,000 --> 00:00:04,000\nHello from beside\n\n2\n00:00:05,000 --> 00:00:06,500\nSecond cue\n');
after(() => rmSync(media, { recursive: true, force: true }));

// The pitch of a segment's sound from its zero crossings.
function pitchOf(segment) {
    const file = join(media, 'segment.ts');
    writeFileSync(file, segment);
    const raw = execFileSync('ffmpeg', ['-hide_banner', '-loglevel', 'error', '-i', file,
        '-vn', '-ac', '1', '-ar', '16000', '-f', 's16le', '-']);
    const samples = new Int16Array(raw.buffer, raw.byteOffset, Math.floor(raw.length / 2));
    const skip = 1600; // the encoder's ramp
    let crossings = 0;
    for (let i = skip + 1; i < samples.length; i += 1)
        crossings += (samples[i - 1] < 0) !== (samples[i] < 0) ? 1 : 0;
    const seconds = (samples.length - skip) / 16000;
    assert.ok(seconds > 0.5, `the segment holds ${seconds} s of sound`);
    return crossings / 2 / seconds;
}

// Seeks the paused video to `at` and resolves with the active cue of the showing
// track once the seek is done and the track has it; with none wanted, once the seek
// is done and no cue is active any more.
function cueAt(page, at, wanted = true) {
    return page.locator('video').evaluate((video, [time, wantCue]) => new Promise((resolve) => {
        const track = [...video.textTracks].find((t) => t.mode === 'showing');
        let seeked = false;
        const check = () => {
            const cues = [...(track?.activeCues || [])];
            if (!seeked || (cues.length > 0) !== wantCue)
                return;
            track.removeEventListener('cuechange', check);
            resolve({ count: cues.length, text: cues[0]?.text, start: cues[0]?.startTime,
                end: cues[0]?.endTime, time: video.currentTime, label: track.label });
        };
        track?.addEventListener('cuechange', check);
        video.addEventListener('seeked', () => { seeked = true; check(); }, { once: true });
        video.pause();
        video.currentTime = time;
    }), [at, wanted]);
}

function playing(page) {
    return page.locator('video').evaluate((video) => new Promise((resolve) => {
        if (!video.paused && video.currentTime > 0.2)
            return resolve();
        const check = () => {
            if (video.currentTime > 0.2) {
                video.removeEventListener('timeupdate', check);
                resolve();
            }
        };
        video.addEventListener('timeupdate', check);
    }));
}

describe('subtitle and audio tracks', () => {
    const running = daemonAndBrowser({ shares: { Movies: media } });

    test('a SubRip file beside a video is chosen and its cues are active at their times', async () => {
        const page = await running.browser.context.newPage();
        await page.goto(`${running.server.base}/#/play/Movies/beside.mp4`);
        const menu = page.getByRole('combobox', { name: 'Subtitles' });
        await menu.waitFor();
        assert.deepEqual(await menu.locator('option').allInnerTexts(), ['Off', 'English – beside.en.srt']);
        assert.equal(await menu.inputValue(), 'off');
        // One audio stream: nothing to choose.
        assert.equal(await page.getByRole('combobox', { name: 'Audio' }).count(), 0);
        await playing(page);
        await menu.selectOption({ label: 'English – beside.en.srt' });
        const cue = await cueAt(page, 5.5);
        assert.equal(cue.text, 'Second cue');
        assert.equal(cue.label, 'English – beside.en.srt');
        assert.ok(Math.abs(cue.start - 5) < 0.01 && Math.abs(cue.end - 6.5) < 0.01, `${cue.start}–${cue.end}`);
        assert.equal((await cueAt(page, 4.5, false)).count, 0, 'no cue between the two');
        assert.equal((await cueAt(page, 2.2)).text, 'Hello from beside');
        await screenshot(page, 'player-subtitle-file');
        await page.close();
    });

    test('a SubRip stream inside an MKV shows its Korean lines, and the next video starts with it', async () => {
        const page = await running.browser.context.newPage();
        await page.goto(`${running.server.base}/#/play/Movies/tones.mkv`);
        const menu = page.getByRole('combobox', { name: 'Subtitles' });
        await menu.waitFor();
        // English was kept from the video before; this one has no English subtitle.
        assert.equal(await menu.inputValue(), 'off');
        await playing(page);
        // By keyboard: the menu takes the focus and the arrow picks the next entry.
        await menu.focus();
        await page.keyboard.press('ArrowDown');
        assert.equal(await menu.inputValue(), '0');
        const cue = await cueAt(page, 4);
        assert.equal(cue.text, KOREAN_CUE);
        assert.equal(cue.label, 'Korean');
        // The encoder's priming may move the stream's start by a few tens of ms.
        assert.ok(Math.abs(cue.start - 3) < 0.1 && Math.abs(cue.end - 6) < 0.1, `${cue.start}–${cue.end}`);
        assert.ok(cue.time >= cue.start && cue.time <= cue.end);
        assert.equal((await cueAt(page, 8, false)).count, 0);
        await screenshot(page, 'player-subtitle-stream');

        await page.goto(`${running.server.base}/#/browse/Movies`);
        await page.locator('.item.video').first().waitFor();
        await page.goto(`${running.server.base}/#/play/Movies/tones.mkv?t=12`);
        await menu.waitFor();
        assert.equal(await menu.inputValue(), '0', 'Korean is kept for this profile');
        assert.equal((await cueAt(page, 12.5)).text, '마지막 줄');
        await page.close();
    });

    test('choosing the second audio stream plays it in the direct stream and in a transcode', async () => {
        // The direct stream needs the file's key frame index, which the first play starts.
        const connect = await (await fetch(`${running.server.base}/connect`)).text();
        const id = /[0-9A-F]{32}/.exec(connect)[0];
        const query = new URLSearchParams({ id, path: '/Movies/tones.mkv', width: '1280', height: '720',
            ostype: 'web', conntype: 'WIFI', playtime: '00:00:20', variants: 'browser' });
        for (;;) {
            const answer = await (await fetch(`${running.server.base}/play?${query}`)).text();
            if (answer.includes('movie7.m3u8'))
                break;
        }
        await (await fetch(`${running.server.base}/playEnd?id=${id}`)).arrayBuffer();

        const page = await running.browser.context.newPage();
        const plays = [];
        page.on('request', (request) => {
            const url = new URL(request.url());
            if (url.pathname === '/play')
                plays.push(url.searchParams.get('audio') ?? '');
        });
        // A segment of the variant asked for after the last "/play" named that audio.
        const segment = (variant, audio) => page.waitForRequest((request) =>
            new RegExp(`/vemba-${variant}-\\d+\\.ts$`).test(new URL(request.url()).pathname)
            && plays.at(-1) === audio);
        const bodyOf = async (request) => (await (await request).response()).body();

        const first = segment(7, '');
        await page.goto(`${running.server.base}/#/play/Movies/tones.mkv`);
        assert.ok(Math.abs(pitchOf(await bodyOf(first)) - 440) < 40, 'the first stream at first');
        const audio = page.getByRole('combobox', { name: 'Audio' });
        await audio.waitFor();
        assert.deepEqual(await audio.locator('option').allInnerTexts(),
            ['Korean · AAC · mono', 'English · AAC · mono']);
        await playing(page);

        const chosen = segment(7, '1');
        await audio.selectOption({ label: 'English · AAC · mono' });
        assert.ok(Math.abs(pitchOf(await bodyOf(chosen)) - 1500) < 80, 'the direct stream carries the second');
        await page.locator('.quality-now[data-variant="7"]').waitFor();

        // Switching plays on from what is buffered while the new variant starts.
        await page.locator('video').evaluate((video) => new Promise((resolve) => {
            const ready = () => {
                const ahead = video.buffered.length ? video.buffered.end(video.buffered.length - 1) - video.currentTime : 0;
                if (video.paused || video.readyState < 3 || ahead < 8)
                    return;
                video.removeEventListener('timeupdate', ready);
                window.stalls = 0;
                video.addEventListener('waiting', () => { window.stalls += 1; });
                resolve();
            };
            video.addEventListener('timeupdate', ready);
        }));
        const transcoded = segment(10, '1');
        await page.locator('select.quality').selectOption({ index: 1 });
        assert.ok(Math.abs(pitchOf(await bodyOf(transcoded)) - 1500) < 80, 'and so does the transcode');
        await page.locator('.quality-now[data-variant="10"]').waitFor();
        assert.equal(await page.evaluate(() => window.stalls), 0, 'the picture kept moving');
        assert.equal(await audio.inputValue(), '1');
        await page.close();
    });
});
