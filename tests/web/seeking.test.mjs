// Seeking in the source's own picture, in Chromium through the browser client: a film
// whose key frames come at irregular distances (scene cuts, 12 to 250 frames apart) is
// cut at those key frames, and after jumps forwards and backwards the player lands
// where it was asked to and plays on, without skipping over a gap.

import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { rmSync } from 'node:fs';
import { join } from 'node:path';
import { ffmpeg, launchBrowser, playedPast, startDaemon, tempFolder } from './support.mjs';

const ORIGINAL = '7'; // the variant of the source's own picture

// 40 s at 25 frames a second with key frames only at these seconds, AAC sound, nine
// times over: its video and sound are copied as they are. Its first two seconds are
// noise, whose rate keeps the player from loading more than about 45 s ahead, so six
// minutes leave room for seeks to places it has not loaded, which restart the engine.
const KEY_TIMES = [0, 0.48, 2, 12, 13.2, 17.24, 19, 24.6, 27, 29.4, 34.96];
const media = tempFolder('media');
const piece = join(media, 'piece.mkv');
ffmpeg('-f', 'lavfi', '-i', 'testsrc2=duration=40:size=320x240:rate=25', '-f', 'lavfi',
    '-i', 'sine=frequency=440:duration=40', '-vf', "noise=alls=100:allf=t:enable='lt(t,2)'",
    '-c:v', 'libx264', '-preset', 'ultrafast', '-bf', '2',
    '-x264-params', 'keyint=250:min-keyint=12:scenecut=0', '-force_key_frames', KEY_TIMES.join(','),
    '-pix_fmt', 'yuv420p', '-c:a', 'aac', '-b:a', '64k', piece);
ffmpeg('-stream_loop', '8', '-i', piece, '-c', 'copy', join(media, 'film.mkv'));
rmSync(piece);

let server;
let browser;
before(async () => {
    server = await startDaemon({ shares: { Movies: media } });
    browser = await launchBrowser({ viewport: { width: 1280, height: 720 } });
});
after(async () => {
    await browser?.close();
    await server?.stop();
    rmSync(media, { recursive: true, force: true });
});

// Opens the player and waits until it plays; the source's own picture is offered once
// the film's key frame index exists, which the first play asks for in the background.
async function playOriginal(page) {
    for (let attempt = 1; ; ++attempt) {
        await page.goto(`${server.base}/#/play/Movies/film.mkv?t=0`);
        await playedPast(page, 0.5);
        const now = page.locator('.quality-now');
        if (await now.count() && await now.getAttribute('data-variant') === ORIGINAL)
            return;
        assert.ok(attempt < 10, 'the source\'s own picture was never offered');
        const ended = page.waitForRequest((request) => new URL(request.url()).pathname === '/playEnd');
        await page.locator('a.back').click();
        await ended;
        await page.locator('.item.video').first().waitFor();
    }
}

// Arms the watch for the next seek: it resolves once the video has played on past the
// seek point, with what the seek control showed when the seek ended and how many
// seeks there were on the way (more than one: the player jumped over a gap), and
// whether the player had the place loaded before.
async function watchSeek(page, target) {
    await page.evaluate((seconds) => {
        const video = document.querySelector('video');
        const slider = document.querySelector('.seek');
        window.seekWatch = new Promise((resolve) => {
            const seen = { seeks: 0, shown: NaN, at: NaN, buffered: false };
            for (let i = 0; i < video.buffered.length; ++i)
                seen.buffered ||= video.buffered.start(i) <= seconds && seconds < video.buffered.end(i);
            const onSeeking = () => { seen.seeks += 1; };
            const onSeeked = () => { seen.shown = Number(slider.value); };
            const onTime = () => {
                if (Number.isNaN(seen.shown) || video.paused || video.currentTime <= seconds)
                    return;
                seen.at = video.currentTime;
                video.removeEventListener('seeking', onSeeking);
                video.removeEventListener('seeked', onSeeked);
                video.removeEventListener('timeupdate', onTime);
                resolve(seen);
            };
            video.addEventListener('seeking', onSeeking);
            video.addEventListener('seeked', onSeeked);
            video.addEventListener('timeupdate', onTime);
        });
    }, target);
}

// A stall never ends on its own: the test's time bounds it.
test('seeks forwards and backwards land where asked and play on', { timeout: 300000 }, async () => {
    const page = await browser.context.newPage();
    await playOriginal(page);
    await playedPast(page, 1);
    // Forwards and back, into groups of pictures of 5.6 s, 10 s, 1.2 s and 4 s.
    for (const target of [300, 90, 213, 175.5]) {
        await watchSeek(page, target);
        await page.locator('.seek').fill(String(target));
        const seen = await page.evaluate(() => window.seekWatch);
        const facts = `${target} s: ${JSON.stringify(seen)}`;
        assert.ok(!seen.buffered, `the player had it already: ${facts}`);
        assert.ok(Math.abs(seen.shown - target) <= 0.5, facts);
        assert.equal(seen.seeks, 1, facts);
        assert.equal(await page.locator('.quality-now').getAttribute('data-variant'), ORIGINAL, facts);
        await playedPast(page, target + 1);
    }
    await page.close();
});
