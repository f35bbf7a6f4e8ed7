// What a new user met in the browser client, in Chromium against the real daemon and
// engine: a position that survives leaving the player, progress and "watched" on the
// folder's cards, a broken, empty or missing file that says so in view, the next video
// after the end, a shared link that opens at its time when the browser wants a click,
// the seek slider's spoken time, a broken file's picture asked for once, and the
// profile picker.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync, rmSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { ffmpeg, launchBrowser, makeMedia, playedPast, screenshot, startDaemon } from './support.mjs';

const media = makeMedia();
writeFileSync(join(media, 'empty.mp4'), '');
writeFileSync(join(media, 'broken.mkv'), 'not a video '.repeat(2000));
mkdirSync(join(media, 'Series'));
for (const name of ['ep1.mp4', 'ep2.mp4']) {
    ffmpeg('-f', 'lavfi', '-i', 'testsrc2=duration=3:size=320x240:rate=25', '-f', 'lavfi', '-i', 'sine=duration=3',
        '-c:v', 'libx264', '-preset', 'ultrafast', '-pix_fmt', 'yuv420p', '-c:a', 'aac', '-shortest',
        '-movflags', '+faststart', join(media, 'Series', name));
}
after(() => rmSync(media, { recursive: true, force: true }));

const POSITION_KEY = 'vembacast.pos:/Movies/long.mkv';

// Resolves with the time the video shows when it first plays.
function firstPlayingTime(page) {
    return page.locator('video').evaluate((video) => new Promise((resolve) => {
        if (!video.paused && video.currentTime > 0)
            resolve(video.currentTime);
        else
            video.addEventListener('playing', () => resolve(video.currentTime), { once: true });
    }));
}

describe('the browser client as a new user meets it', () => {
    let server;
    let browser;
    before(async () => {
        server = await startDaemon({ shares: { Movies: media } });
        browser = await launchBrowser({ viewport: { width: 1366, height: 768 } });
    });
    after(async () => {
        await browser?.close();
        await server?.stop();
    });

    test('a position survives "Back to folder" and the browser\'s Back, and the card shows it', async () => {
        const page = await browser.context.newPage();
        await page.goto(`${server.base}/#/browse/Movies`);
        await page.locator('.item.video').first().waitFor();
        await page.locator('.item.video', { hasText: 'long.mkv' }).locator('.open').click();
        const saved = page.waitForResponse((response) => response.url().includes('/api/v1/position/save'));
        await playedPast(page, 12);
        await saved;
        const slider = page.getByRole('slider', { name: 'Seek' });
        assert.match(await slider.getAttribute('aria-valuetext'), /^0:1\d of 1:30$/);

        await page.getByRole('link', { name: /Back to folder/ }).click();
        const card = page.locator('.item.video', { hasText: 'long.mkv' });
        await card.waitFor();
        const kept = Number(await page.evaluate((key) => localStorage.getItem(key), POSITION_KEY));
        assert.ok(kept >= 12, `the position stays in this browser (${kept})`);
        const bar = await card.locator('.progress span').evaluate((span) => span.style.width);
        assert.ok(Number.parseFloat(bar) > 4, `the card's bar shows the position (${bar})`);
        assert.equal(await card.locator('.badge.seen').count(), 0);

        await card.locator('.open').click();
        const startedAt = await firstPlayingTime(page);
        assert.ok(startedAt >= kept - 1, `play goes on from ${kept} s (at ${startedAt} s)`);
        await playedPast(page, kept + 2);
        await page.goBack();
        await page.locator('.item.video').first().waitFor();
        const later = Number(await page.evaluate((key) => localStorage.getItem(key), POSITION_KEY));
        assert.ok(later >= kept + 2, `the browser's Back keeps the later position (${later})`);
        await page.close();
    });

    test('a video that ends gives way to the next of its folder, and is marked watched', async () => {
        const page = await browser.context.newPage();
        await page.goto(`${server.base}/#/play/Movies/Series/ep1.mp4`);
        const notice = page.locator('.next-up');
        await notice.waitFor();
        assert.match(await notice.innerText(), /Next: ep2\.mp4 in \d s/);
        // Cancelled, it stays on this video; asked again, "Play now" goes at once.
        await notice.getByRole('button', { name: 'Cancel' }).click();
        assert.equal(await notice.count(), 0);
        assert.match(page.url(), /ep1\.mp4$/);
        await page.locator('video').evaluate((video) => { video.currentTime = 2; return video.play(); });
        await notice.waitFor();
        await page.waitForURL(/#\/play\/Movies\/Series\/ep2\.mp4$/);
        assert.equal(await page.title(), 'ep2.mp4 – VembaCast');

        await page.goto(`${server.base}/#/browse/Movies/Series`);
        const first = page.locator('.item.video', { hasText: 'ep1.mp4' });
        await first.waitFor();
        assert.equal(await first.locator('.badge.seen').innerText(), 'Watched');
        assert.ok(await first.evaluate((card) => card.classList.contains('watched')));
        await page.close();
    });

    test('a broken, an empty and a missing file say so in view, with honest controls', async () => {
        for (const name of ['empty.mp4', 'broken.mkv']) {
            const page = await browser.context.newPage();
            await page.goto(`${server.base}/#/play/Movies/${name}`);
            const message = page.locator('.stage-message');
            await message.waitFor();
            const box = await message.boundingBox();
            assert.ok(box.y >= 0 && box.y + box.height <= 768, `${name}: the error is in view (${JSON.stringify(box)})`);
            assert.equal(await message.innerText(), 'The video could not be played.');
            const toggle = page.locator('.controls .toggle');
            assert.equal(await toggle.getAttribute('aria-label'), 'Play');
            assert.ok(await toggle.isDisabled());
            assert.doesNotMatch(await page.locator('.controls .time').innerText(), /\d:\d\d \/ \d/);
            await screenshot(page, `failed-${name}`);
            await page.close();
        }
        const page = await browser.context.newPage();
        await page.goto(`${server.base}/#/play/Movies/gone.mp4`);
        const message = page.locator('.stage-message');
        await message.waitFor();
        assert.equal(await message.innerText(), 'This video no longer exists.');
        assert.equal(await page.locator('.bar .convert').isVisible(), false);
        assert.equal(await page.locator('.bar .download').isVisible(), false);
        assert.ok(await page.locator('.bar .back').isVisible());
        await page.close();
    });

    test('a broken file\'s picture is asked for once, and again when the file changes', async () => {
        const page = await browser.context.newPage();
        const asked = [];
        page.on('request', (request) => {
            const url = new URL(request.url());
            if (url.pathname === '/getThumbnail' && url.searchParams.get('path').includes('broken'))
                asked.push(url.searchParams.get('path'));
        });
        const missing = page.locator('.item.video', { hasText: 'broken.mkv' }).locator('.thumb.missing');
        // What the earlier visits of this browser remembered is forgotten first.
        await page.goto(`${server.base}/#/browse/Movies`);
        await page.evaluate(() => Object.keys(localStorage).filter((key) => key.startsWith('vembacast.nothumb:'))
            .forEach((key) => localStorage.removeItem(key)));
        asked.length = 0;
        await page.reload();
        await missing.waitFor({ state: 'attached' });
        assert.equal(asked.length, 1);
        await page.reload();
        await missing.waitFor({ state: 'attached' });
        const card = page.locator('.item.video', { hasText: 'broken.mkv' });
        assert.equal(await card.locator('img').count(), 0, 'a second visit does not ask again');
        assert.equal(asked.length, 1);

        writeFileSync(join(media, 'broken.mkv'), 'still not a video, but another one');
        await page.reload();
        await page.locator('.item.video', { hasText: 'broken.mkv' }).locator('img.thumb.missing').waitFor({ state: 'attached' });
        assert.equal(asked.length, 2, 'a changed file is asked for again');
        await page.close();
    });

    test('the profile picker chooses, makes and deletes profiles, and "Continue watching" follows it', async () => {
        const page = await browser.context.newPage();
        await page.goto(`${server.base}/`);
        const picker = page.locator('.profile-button');
        assert.equal(await picker.innerText(), 'Profile: Home');
        await page.locator('.row.continue', { hasText: 'long.mkv' }).waitFor();

        await picker.click();
        const dialog = page.getByRole('dialog', { name: 'Who is watching?' });
        await dialog.getByRole('button', { name: 'Watch as Home' }).waitFor();
        const name = dialog.getByLabel('New profile');
        await name.fill('x'.repeat(41));
        await dialog.getByRole('button', { name: 'Make' }).click();
        assert.equal(await dialog.getByRole('alert').innerText(), 'A name has 1 to 40 characters.');
        await page.locator('.row.recent').evaluate((row) => { row.dataset.before = '1'; });
        await name.fill('아이들');
        await dialog.getByRole('button', { name: 'Make' }).click();
        await picker.filter({ hasText: 'Profile: 아이들' }).waitFor();
        assert.equal(await page.evaluate(() => localStorage.getItem('vembacast.profile')), '아이들');
        await page.locator('.row.recent:not([data-before])').waitFor();
        assert.equal(await page.locator('.row.continue').count(), 0, 'the new profile has nothing to go on with');

        // The household's twentieth profile is the last: the server's words say why.
        const made = await (await fetch(`${server.base}/api/v1/profiles`)).json();
        for (let i = made.profiles.length; i < made.max; ++i)
            assert.equal((await fetch(`${server.base}/api/v1/profile/create?profile=p${i}`)).status, 200);
        await picker.click();
        await name.fill('one too many');
        await dialog.getByRole('button', { name: 'Make' }).click();
        await dialog.getByRole('alert').filter({ hasText: /profiles already/ }).waitFor();

        // Deleting asks twice; the current profile's deletion leads back to "Home".
        const remove = dialog.getByRole('button', { name: 'Delete 아이들' });
        await remove.click();
        await dialog.getByRole('button', { name: /Really delete 아이들/ }).click();
        await picker.filter({ hasText: 'Profile: Home' }).waitFor();
        await page.locator('.row.continue', { hasText: 'long.mkv' }).waitFor();
        const left = await (await fetch(`${server.base}/api/v1/profiles`)).json();
        assert.equal(left.profiles.some((profile) => profile.name === '아이들'), false);
        await screenshot(page, 'profile-picker');
        await page.close();
    });
});

describe('a shared link when the browser waits for a click', () => {
    test('opens at its time behind a play button', async () => {
        const server = await startDaemon({ shares: { Movies: media } });
        const browser = await launchBrowser({ viewport: { width: 1366, height: 768 } });
        // Headless Chromium starts media without a click whatever its autoplay policy
        // says; here play() refuses as a browser with that policy does until the
        // person has clicked.
        // Chromium may count the page as activated by the navigation itself, so the
        // stand-in waits for a click seen by the page.
        await browser.context.addInitScript(() => {
            let clicked = false;
            document.addEventListener('click', () => { clicked = true; }, true);
            const play = HTMLMediaElement.prototype.play;
            HTMLMediaElement.prototype.play = function playAfterClick() {
                return clicked ? play.call(this)
                    : Promise.reject(new DOMException('The user has not clicked yet.', 'NotAllowedError'));
            };
        });
        try {
            const page = await browser.context.newPage();
            await page.goto(`${server.base}/#/play/Movies/long.mkv?t=30`);
            const overlay = page.getByRole('button', { name: 'Play' }).and(page.locator('.play-overlay'));
            await overlay.waitFor({ timeout: 90000 });
            await screenshot(page, 'play-overlay');
            await overlay.click();
            const startedAt = await firstPlayingTime(page);
            assert.ok(startedAt >= 29, `the link's time is kept (${startedAt} s)`);
            assert.equal(await overlay.count(), 0);
        } finally {
            await browser.close();
            await server.stop();
        }
    });
});
