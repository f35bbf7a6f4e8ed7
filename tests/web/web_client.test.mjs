// A person's whole tasks in the browser client, in Chromium against the real server:
// watch with seeking and a quality change, watch with subtitles and a portrait video,
// play a file as it is, download one, and get in with the password when the server
// asks for it.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync, rmSync } from 'node:fs';
import { join } from 'node:path';
import { ffmpeg, launchBrowser, makeMedia, makeVideo, playedPast, screenshot, startDaemon, tempFolder, writeSami } from './support.mjs';

const media = makeMedia();
makeVideo(join(media, 'portrait.mkv'), '360x640', 20);
makeVideo(join(media, 'subtitled.mkv'), '640x360', 20);
writeSami(join(media, 'subtitled.smi'), 20);
after(() => rmSync(media, { recursive: true, force: true }));

function requestLog(page) {
    const paths = [];
    page.on('request', (request) => paths.push(new URL(request.url()).pathname));
    return paths;
}

describe('watching', () => {
    let server;
    let browser;
    before(async () => {
        // Four variants, so the player offers a choice of quality.
        server = await startDaemon({ shares: { Movies: media }, settings: { FixedBandwidth: 0 } });
        browser = await launchBrowser({ viewport: { width: 1280, height: 800 } });
    });
    after(async () => {
        await browser?.close();
        await server?.stop();
    });

    test('a deep link to a folder, a click on a video and seeking', async () => {
        const page = await browser.context.newPage();
        const paths = requestLog(page);
        await page.goto(`${server.base}/#/browse/Movies`);
        const card = page.locator('.item.video', { hasText: 'long.mkv' });
        await card.waitFor();
        await assert.doesNotReject(page.locator('.item.folder', { hasText: 'Empty' }).waitFor());
        assert.match(await card.locator('.meta').innerText(), /00:01:30.*640x360/);
        await page.locator('.item.video', { hasText: 'direct.mp4' }).locator('.thumb').evaluate(
            (image) => image.complete || new Promise((resolve) => image.addEventListener('load', resolve)));
        await screenshot(page, 'browse-desktop');

        await card.locator('.open').click();
        await playedPast(page, 5);
        assert.match(page.url(), /#\/play\/Movies\/long\.mkv$/);
        assert.equal(await page.locator('video').count(), 1);
        const play = paths.find((path) => path === '/play');
        assert.ok(play, 'the player asked the server to play');
        await screenshot(page, 'player-desktop');

        await page.locator('.seek').fill('60');
        await playedPast(page, 62);

        // long.mkv's picture (4:4:4) cannot be copied, and it is smaller than every HD
        // box: the one variant is the 480p rung at the source's own size, and with
        // nothing to choose from the page shows no quality menu.
        assert.equal(await page.locator('select.quality').count(), 0);
        assert.ok(paths.some((path) => /\/movie10\.m3u8$/.test(path)), paths.join(' '));
        assert.ok(paths.some((path) => /\/file\/[0-9A-F]{32}\/vemba-10-1[2-9]\.ts$/.test(path)), 'segments after the jump');

        const ended = page.waitForRequest((request) => new URL(request.url()).pathname === '/playEnd');
        await page.locator('a.back').click();
        await ended;
        await page.locator('.item.video').first().waitFor();
        assert.equal(await page.locator('video').count(), 0);
        await page.close();
    });

    test('a video with subtitles beside it is marked and plays with them', async () => {
        const page = await browser.context.newPage();
        const paths = requestLog(page);
        await page.goto(`${server.base}/#/browse/Movies`);
        const card = page.locator('.item.video', { hasText: 'subtitled.mkv' });
        await card.waitFor();
        assert.equal(await card.locator('.badge', { hasText: 'SMI' }).count(), 1);
        assert.equal(await page.locator('.item.video', { hasText: 'long.mkv' }).locator('.badge', { hasText: 'SMI' }).count(), 0);
        await card.locator('.open').click();
        await playedPast(page, 3);
        assert.ok(paths.some((path) => /^\/file\/[0-9A-F]{32}\/vemba-\d+-\d+\.ts$/.test(path)), 'the stream is transcoded');
        await screenshot(page, 'player-subtitles');
        await page.close();
    });

    test('a portrait video stands upright', async () => {
        const page = await browser.context.newPage();
        await page.goto(`${server.base}/#/play/Movies/portrait.mkv`);
        await playedPast(page, 2);
        const shown = await page.locator('video').evaluate((video) => {
            const matrix = new DOMMatrixReadOnly(getComputedStyle(video).transform);
            // The picture is fitted into the element's own box, which is then turned.
            const scale = Math.min(video.clientWidth / video.videoWidth, video.clientHeight / video.videoHeight);
            return {
                streamWidth: video.videoWidth, streamHeight: video.videoHeight,
                turn: [matrix.a, matrix.b, matrix.c, matrix.d].map((v) => Math.round(v * 1000) / 1000),
                screenWidth: video.videoHeight * scale, screenHeight: video.videoWidth * scale,
            };
        });
        // A browser's variants come upright, so the page turns nothing.
        assert.ok(shown.streamHeight > shown.streamWidth, JSON.stringify(shown));
        assert.deepEqual(shown.turn, [1, 0, 0, 1]);
        assert.ok(Math.abs(shown.streamHeight / shown.streamWidth - 640 / 360) < 0.05, JSON.stringify(shown));
        await screenshot(page, 'player-portrait');
        await page.close();
    });

    test('leaving the player ends the stream whichever way the server answers', async () => {
        const page = await browser.context.newPage();
        // A full answer in place of the bare status line; the real server still ends
        // the stream first.
        await page.route((url) => url.pathname === '/playEnd', async (route) => {
            await route.fetch().catch(() => null);
            await route.fulfill({
                status: 200, contentType: 'text/xml',
                body: '<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict><key>result</key>'
                    + '<string>0</string><key>message</key><string></string></dict></plist>',
            });
        });
        for (const name of ['long.mkv', 'subtitled.mkv']) {
            await page.goto(`${server.base}/#/play/Movies/${name}`);
            await playedPast(page, 1);
            const ended = page.waitForResponse((response) => new URL(response.url()).pathname === '/playEnd');
            await page.locator('a.back').click();
            assert.equal((await ended).status(), 200);
            await page.locator('.item.video').first().waitFor();
            assert.equal(await page.locator('video').count(), 0);
        }
        await page.close();
    });

    test('a deep link with a start time on a phone screen', async () => {
        const phone = await launchBrowser({ viewport: { width: 390, height: 844 }, deviceScaleFactor: 2, isMobile: true, hasTouch: true });
        try {
            const page = await phone.context.newPage();
            await page.goto(`${server.base}/#/browse/Movies`);
            await page.locator('.item.video').first().waitFor();
            await screenshot(page, 'browse-phone');
            const asked = page.waitForRequest((request) => new URL(request.url()).pathname === '/play');
            await page.goto(`${server.base}/#/play/Movies/long.mkv?t=30`);
            const query = new URL((await asked).url()).searchParams;
            assert.equal(query.get('conntype'), 'WIFI');
            assert.ok(Number(query.get('width')) <= 1920 && Number(query.get('height')) <= 1080);
            assert.equal(Number(query.get('width')), Math.round(await page.locator('.stage').evaluate((s) => s.clientWidth)) * 2);
            await playedPast(page, 32);
            await screenshot(page, 'player-phone');
        } finally {
            await phone.close();
        }
    });
});

describe('files as they are', () => {
    let server;
    let browser;
    before(async () => {
        server = await startDaemon({ shares: { Movies: media } });
        browser = await launchBrowser();
    });
    after(async () => {
        await browser?.close();
        await server?.stop();
    });

    test('a directly playable file plays without any playlist', async () => {
        const page = await browser.context.newPage();
        const paths = requestLog(page);
        await page.goto(`${server.base}/#/play/Movies/direct.mp4`);
        await playedPast(page, 1);
        assert.ok(paths.some((path) => /^\/playdirect\/file-\d+\.m4v$/.test(path)), paths.join(' '));
        assert.deepEqual(paths.filter((path) => path.startsWith('/list/') || path === '/play'), []);
        await page.close();
    });

    test('a download gives the file byte for byte', async () => {
        const page = await browser.context.newPage();
        await page.goto(`${server.base}/#/browse/Movies`);
        const card = page.locator('.item.video', { hasText: 'direct.mp4' });
        const downloading = page.waitForEvent('download');
        await card.locator('a.download').click();
        const download = await downloading;
        const folder = tempFolder('download');
        const saved = join(folder, 'direct.mp4');
        await download.saveAs(saved);
        const same = readFileSync(saved).equals(readFileSync(join(media, 'direct.mp4')));
        rmSync(folder, { recursive: true, force: true });
        assert.ok(same, 'the downloaded bytes equal the file');
        assert.equal(download.suggestedFilename(), 'direct.mp4');
        await page.close();
    });
});

describe('a server that requires its password', () => {
    let server;
    let browser;
    before(async () => {
        server = await startDaemon({ shares: { Movies: media }, args: ['--password', '2468', '--require-password'] });
        browser = await launchBrowser();
    });
    after(async () => {
        await browser?.close();
        await server?.stop();
    });

    test('requests without the password are refused and the page asks for it', async () => {
        const refused = await fetch(`${server.base}/getList?path=%2F`);
        assert.equal(refused.status, 403);
        const page = await browser.context.newPage();
        await page.goto(`${server.base}/#/browse/Movies`);
        const password = page.locator('form.password input[type=password]');
        await password.fill('1111');
        await page.locator('form.password button').click();
        await page.locator('form.password .error').waitFor();
        // A wrong password makes the address wait a second before the next try counts;
        // the server says so, and the page holds its button until then: the first try
        // after it is weighed.
        await page.locator('form.password button:not([disabled])').waitFor();
        await password.fill('2468');
        await page.locator('form.password button').click();
        await page.locator('.item.video', { hasText: 'long.mkv' }).waitFor();
        const cookies = await browser.context.cookies(server.base);
        const id = cookies.find((cookie) => cookie.name === 'VembaCastId');
        assert.ok(id && id.httpOnly && id.sameSite === 'Strict');
        assert.equal(await page.evaluate(() => document.cookie), '');
        await page.close();
    });
});

// Names that hold '%': each sibling plays, shows and downloads its own bytes, never
// the file its name would decode to ("x%20y.mp4" is not "x y.mp4").
describe('names with percent signs', () => {
    const siblings = tempFolder('siblings');
    // A colour and a length of its own for each, so a picture or a length tells them apart.
    const files = [
        { name: 'x y.mp4', colour: 'red', seconds: 2, rgb: [255, 0, 0] },
        { name: 'x%20y.mp4', colour: 'blue', seconds: 4, rgb: [0, 0, 255] },
        { name: '100%.mp4', colour: 'lime', seconds: 3, rgb: [0, 255, 0] },
        { name: '100%25.mp4', colour: 'white', seconds: 5, rgb: [255, 255, 255] },
    ];
    for (const file of files) {
        ffmpeg('-f', 'lavfi', '-i', `color=c=${file.colour}:s=320x240:r=25:d=${file.seconds}`,
            '-f', 'lavfi', '-i', `sine=duration=${file.seconds}`, '-c:v', 'libx264', '-preset',
            'ultrafast', '-pix_fmt', 'yuv420p', '-c:a', 'aac', '-shortest', '-movflags', '+faststart',
            join(siblings, file.name));
    }
    let server;
    let browser;
    before(async () => {
        server = await startDaemon({ shares: { Clips: siblings } });
        browser = await launchBrowser();
    });
    after(async () => {
        await browser?.close();
        await server?.stop();
        rmSync(siblings, { recursive: true, force: true });
    });

    const card = (page, name) => page.locator(`.item.video[data-name="${name}"]`);

    test('each thumbnail shows its own file', async () => {
        const page = await browser.context.newPage();
        await page.goto(`${server.base}/#/browse/Clips`);
        for (const file of files) {
            const image = card(page, file.name).locator('img.thumb');
            const centre = await image.evaluate((img) => new Promise((resolve, reject) => {
                const read = () => {
                    const canvas = document.createElement('canvas');
                    canvas.width = img.naturalWidth;
                    canvas.height = img.naturalHeight;
                    const context = canvas.getContext('2d');
                    context.drawImage(img, 0, 0);
                    resolve(Array.from(context.getImageData(img.naturalWidth / 2, img.naturalHeight / 2, 1, 1).data.slice(0, 3)));
                };
                if (img.complete && img.naturalWidth)
                    read();
                else {
                    img.addEventListener('load', read, { once: true });
                    img.addEventListener('error', () => reject(new Error('no thumbnail')), { once: true });
                }
            }));
            file.rgb.forEach((value, channel) => assert.ok(Math.abs(centre[channel] - value) < 60,
                `${file.name}: ${centre} is not ${file.colour}`));
        }
        await page.close();
    });

    test('each plays its own file', async () => {
        for (const file of files) {
            const page = await browser.context.newPage();
            await page.goto(`${server.base}/#/browse/Clips`);
            await card(page, file.name).locator('.open').click();
            await playedPast(page, 0.5);
            const duration = await page.locator('video').evaluate((video) => video.duration);
            assert.ok(Math.abs(duration - file.seconds) < 0.5, `${file.name} played ${duration} s`);
            await page.close();
        }
    });

    test('each downloads its own bytes', async () => {
        const page = await browser.context.newPage();
        await page.goto(`${server.base}/#/browse/Clips`);
        const folder = tempFolder('download');
        try {
            for (const file of files) {
                const downloading = page.waitForEvent('download');
                await card(page, file.name).locator('a.download').click();
                const saved = join(folder, `saved-${files.indexOf(file)}`);
                await (await downloading).saveAs(saved);
                assert.ok(readFileSync(saved).equals(readFileSync(join(siblings, file.name))), file.name);
            }
        } finally {
            rmSync(folder, { recursive: true, force: true });
        }
        await page.close();
    });
});
