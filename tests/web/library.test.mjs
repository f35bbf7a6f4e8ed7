// Finding videos across the shares in the browser client, in Chromium against the real
// daemon: search by a Korean part of a name, "Recently added" with the newest first,
// "Continue watching" that carries a position from one browser to another, and the
// small things a new user meets (counts, the tab's title, the list view's buttons, the
// size of targets on a phone).

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync, rmSync } from 'node:fs';
import { join } from 'node:path';
import { ffmpeg, launchBrowser, makeMedia, playedPast, screenshot, startDaemon } from './support.mjs';

const media = makeMedia();
mkdirSync(join(media, 'Drama'));
mkdirSync(join(media, 'One'));
for (const name of ['Drama/겨울왕국 2.mp4', 'One/only.mp4', '새 영화.mp4']) {
    // Made one after the other: the last is the newest arrival in the shares.
    ffmpeg('-f', 'lavfi', '-i', 'testsrc2=duration=4:size=320x240:rate=25', '-c:v', 'libx264',
        '-preset', 'ultrafast', '-pix_fmt', 'yuv420p', join(media, name));
}
after(() => rmSync(media, { recursive: true, force: true }));

describe('the library across shares', () => {
    let server;
    let browser;
    before(async () => {
        server = await startDaemon({ shares: { Movies: media } });
        browser = await launchBrowser({ viewport: { width: 1280, height: 800 } });
        // The index's first walk: the daemon answers before it is done.
        for (;;) {
            const found = await (await fetch(`${server.base}/api/v1/recent?limit=1`)).json();
            if (found.ready)
                break;
        }
    });
    after(async () => {
        await browser?.close();
        await server?.stop();
    });

    test('search finds a video by a Korean part of its name', async () => {
        const page = await browser.context.newPage();
        await page.goto(`${server.base}/`);
        const box = page.getByRole('searchbox', { name: /search all shares/i });
        await box.fill('왕국');
        await box.press('Enter');
        const result = page.locator('.item.video', { hasText: '겨울왕국 2.mp4' });
        await result.waitFor();
        assert.equal(await page.locator('main .item.video').count(), 1);
        assert.equal(await page.title(), 'Search: 왕국 – VembaCast');
        assert.equal(await result.locator('.where').innerText(), 'in Movies / Drama');
        await screenshot(page, 'search-results');
        await result.locator('.open').click();
        await page.waitForURL(/#\/play\/Movies\/Drama\//);
        assert.equal(await page.title(), '겨울왕국 2.mp4 – VembaCast');
        await page.close();
    });

    test('"Recently added" lists the newest file first', async () => {
        const page = await browser.context.newPage();
        await page.goto(`${server.base}/`);
        const recent = page.locator('.row.recent .item.video');
        await recent.first().waitFor();
        assert.equal(await recent.first().locator('.name').innerText(), '새 영화.mp4');
        assert.equal(await page.getByRole('heading', { name: 'Recently added' }).count(), 1);
        await screenshot(page, 'home-rows');
        await page.close();
    });

    test('a position saved in one browser is offered in another, and playback starts there', async () => {
        const first = await browser.context.newPage();
        await first.goto(`${server.base}/#/play/Movies/long.mkv`);
        await playedPast(first, 12);
        await first.goto(`${server.base}/#/browse/Movies`);
        await first.locator('.item.video').first().waitFor();

        const other = await launchBrowser({ viewport: { width: 1280, height: 800 } });
        try {
            const page = await other.context.newPage();
            await page.goto(`${server.base}/`);
            const offered = page.locator('.row.continue .item.video', { hasText: 'long.mkv' });
            await offered.waitFor();
            assert.match(await offered.locator('.meta').innerText(), /left/);
            const link = await offered.locator('.open').getAttribute('href');
            const at = Number(/\?t=(\d+)$/.exec(link)?.[1]);
            assert.ok(at >= 5, `the link starts at the saved position (${link})`);
            await offered.locator('.open').click();
            await playedPast(page, at);
            const started = await page.locator('video').evaluate((video) => video.currentTime);
            assert.ok(started >= at, `playback went on from ${at} s (at ${started} s)`);
        } finally {
            await other.close();
        }
        await first.close();
    });

    test('a folder sorted by date opens with one listing request', async () => {
        const page = await browser.context.newPage();
        const asked = [];
        page.on('request', (request) => asked.push(`${request.method()} ${new URL(request.url()).pathname}`));
        await page.goto(`${server.base}/#/browse/Movies`);
        await page.locator('.item.video').first().waitFor();
        await page.locator('#sort').selectOption('date');
        const names = await page.locator('.item.video .name').allInnerTexts();
        assert.equal(names[0], '새 영화.mp4');
        assert.deepEqual(asked.filter((line) => /getList|\/xml\/|file_download/.test(line) || line.startsWith('HEAD')), []);
        assert.equal(asked.filter((line) => line === 'GET /api/v1/folder').length >= 1, true);
        await page.locator('#sort').selectOption('name');
        await page.close();
    });

    test('counts, the list view and the tab title read right', async () => {
        const page = await browser.context.newPage();
        await page.goto(`${server.base}/#/browse/Movies`);
        await page.locator('.item.folder', { hasText: 'One' }).waitFor();
        assert.equal(await page.locator('.item.folder', { hasText: 'One' }).locator('.meta').innerText(), '1 item');
        assert.equal(await page.locator('.item.folder', { hasText: 'Empty' }).locator('.meta').innerText(), '0 items');
        assert.equal(await page.title(), 'Movies – VembaCast');

        await page.locator('.toolbar .layout').click();
        const row = page.locator('.items.list .item.video').first();
        await row.waitFor();
        const rowBox = await row.boundingBox();
        for (const button of ['.convert', '.download']) {
            const box = await row.locator(button).boundingBox();
            assert.ok(box.y >= rowBox.y && box.y + box.height <= rowBox.y + rowBox.height,
                `${button} lies inside its row`);
        }
        await page.locator('.toolbar .layout').click();
        await page.close();
    });

    test('on a phone the buttons of a video are 44 px at least', async () => {
        const phone = await launchBrowser({ viewport: { width: 390, height: 844 }, deviceScaleFactor: 2, isMobile: true, hasTouch: true });
        try {
            const page = await phone.context.newPage();
            await page.goto(`${server.base}/#/browse/Movies`);
            const card = page.locator('.item.video').first();
            await card.waitFor();
            for (const button of ['.convert', '.download']) {
                const box = await card.locator(button).boundingBox();
                assert.ok(box.width >= 44 && box.height >= 44, `${button} is ${box.width}x${box.height}`);
            }
            await screenshot(page, 'browse-phone-targets');
        } finally {
            await phone.close();
        }
    });
});
