// The installed copy (the Debian package unpacked by the package_build fixture) as a
// new user meets it: its daemon serves the browser client from the installed
// resources, and a video that needs transcoding plays through hls.js, which only the
// program folder's resources carry.

import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { rmSync } from 'node:fs';
import { join } from 'node:path';
import { launchBrowser, makeMedia, playedPast, screenshot, startDaemon } from './support.mjs';

const root = process.env.VEMBACAST_INSTALLED_ROOT;
const media = makeMedia();
let server;
let browser;

before(async () => {
    assert.ok(root, 'VEMBACAST_INSTALLED_ROOT names the unpacked package');
    server = await startDaemon({ shares: { Movies: media }, program: join(root, 'usr', 'bin', 'vembacastd') });
    browser = await launchBrowser({ viewport: { width: 1280, height: 800 } });
});
after(async () => {
    await browser?.close();
    await server?.stop();
    rmSync(media, { recursive: true, force: true });
});

test('a transcoded video plays in the browser from the installed copy', async () => {
    const page = await browser.context.newPage();
    const player = page.waitForResponse((response) => response.url().endsWith('/vendor/hls.mjs'));
    await page.goto(`${server.base}/#/play/Movies/long.mkv`);
    assert.equal((await player).status(), 200);
    await playedPast(page, 3);
    await screenshot(page, 'installed-player');
    await page.close();
});
