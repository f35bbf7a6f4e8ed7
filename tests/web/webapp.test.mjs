// The browser client as an installed app, in Chromium against the real daemon: the
// manifest and its icons, Chromium's own verdict on installing the page, the Media
// Session that a lock screen and media keys use, and a live stream that comes back
// when the page is shown again after a long time hidden and its server session ended.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { copyFileSync, readFileSync, rmSync } from 'node:fs';
import { join } from 'node:path';
import { launchBrowser, makeMedia, playedPast, startDaemon } from './support.mjs';

const media = makeMedia();
copyFileSync(join(media, 'direct.mp4'), join(media, 'next.mp4'));
after(() => rmSync(media, { recursive: true, force: true }));

// The width and height a PNG's header names.
function pngSize(bytes) {
    const signature = [0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a];
    assert.deepEqual([...bytes.subarray(0, 8)], signature, 'a PNG file');
    const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
    return `${view.getUint32(16)}x${view.getUint32(20)}`;
}

// Shows the page as hidden or visible to its own scripts: headless Chromium keeps
// every page visible, so the document's state is what the test turns.
function showPage(page, state) {
    return page.evaluate((shown) => {
        Object.defineProperty(document, 'visibilityState', { configurable: true, get: () => shown });
        Object.defineProperty(document, 'hidden', { configurable: true, get: () => shown === 'hidden' });
        document.dispatchEvent(new Event('visibilitychange'));
    }, state);
}

// Walks the page with Tab from its start until focus comes round again, and answers
// the controls it reached and what it found wrong: visible controls it never reached,
// and reached ones whose focus ring is missing or cut off by a box that clips.
async function tabWalk(page) {
    await page.evaluate(() => document.activeElement?.blur());
    const reached = [];
    const faults = [];
    for (let step = 0; step < 100; step += 1) {
        await page.keyboard.press('Tab');
        const found = await page.evaluate(() => {
            const node = document.activeElement;
            if (!node || node === document.body || node.dataset.walked)
                return null;
            node.dataset.walked = '1';
            const style = getComputedStyle(node);
            const reach = parseFloat(style.outlineWidth) + parseFloat(style.outlineOffset);
            const box = node.getBoundingClientRect();
            let clippedBy = '';
            for (let up = node.parentElement; up; up = up.parentElement) {
                const clip = up.getBoundingClientRect();
                if (getComputedStyle(up).overflow !== 'visible' && (box.left - reach < clip.left
                    || box.top - reach < clip.top || box.right + reach > clip.right
                    || box.bottom + reach > clip.bottom))
                    clippedBy = up.className;
            }
            return {
                label: `${node.tagName.toLowerCase()}.${node.className}`,
                ring: style.outlineStyle !== 'none' && parseFloat(style.outlineWidth) >= 2, clippedBy,
            };
        });
        if (!found)
            break;
        reached.push(found.label);
        if (!found.ring)
            faults.push(`${found.label} shows no focus ring`);
        if (found.clippedBy)
            faults.push(`${found.label} has its focus ring cut by .${found.clippedBy}`);
    }
    const missed = await page.evaluate(() => {
        const controls = [...document.querySelectorAll('a[href], button, input, select, [tabindex]')]
            .filter((node) => node.getClientRects().length && !node.disabled);
        const out = controls.filter((node) => !node.dataset.walked)
            .map((node) => `${node.tagName.toLowerCase()}.${node.className} is out of the keyboard's reach`);
        controls.forEach((node) => { delete node.dataset.walked; });
        return out;
    });
    return { reached, faults: [...faults, ...missed] };
}

// The WCAG A and AA rules of axe-core that the page breaks, in the colours it has now.
async function axeViolations(page) {
    await page.evaluate(readFileSync('node_modules/axe-core/axe.min.js', 'utf8'));
    return page.evaluate(async () => {
        const result = await window.axe.run(document, { runOnly: ['wcag2a', 'wcag2aa'] });
        return result.violations.map((rule) => `${rule.id}: ${rule.nodes.map((node) => node.target.join(' ')).join(', ')}`);
    });
}

describe('the installable app', () => {
    let server;
    let browser;
    before(async () => {
        server = await startDaemon({ shares: { Movies: media } });
        browser = await launchBrowser({ viewport: { width: 1280, height: 800 } });
    });
    after(async () => {
        await browser?.close();
        await server?.stop();
    });

    test('the manifest is valid, its icons load and Chromium finds the page installable', async () => {
        const answer = await fetch(`${server.base}/app.webmanifest`);
        assert.equal(answer.status, 200);
        assert.equal(answer.headers.get('content-type'), 'application/manifest+json');

        const page = await browser.context.newPage();
        await page.goto(`${server.base}/`);
        await page.locator('.item').first().waitFor();
        const cdp = await browser.context.newCDPSession(page);
        const manifest = await cdp.send('Page.getAppManifest');
        assert.equal(manifest.url, `${server.base}/app.webmanifest`);
        assert.deepEqual(manifest.errors, []);
        // Relative URLs resolve against the manifest's own URL, so a proxy's prefix
        // carries over to the start page and the scope.
        assert.equal(manifest.manifest.startUrl, `${server.base}/`);
        assert.equal(manifest.manifest.scope, `${server.base}/`);
        assert.match(manifest.manifest.display, /standalone$/i);
        assert.deepEqual((await cdp.send('Page.getInstallabilityErrors')).installabilityErrors, []);

        const declared = JSON.parse(manifest.data);
        const purposes = new Set(declared.icons.flatMap((icon) => icon.purpose.split(' ')));
        assert.ok(purposes.has('maskable') && purposes.has('any'));
        for (const icon of declared.icons.filter((entry) => entry.type === 'image/png')) {
            const image = await page.request.get(new URL(icon.src, manifest.url).href);
            assert.equal(image.status(), 200, icon.src);
            assert.equal(image.headers()['content-type'], 'image/png');
            assert.equal(pngSize(await image.body()), icon.sizes, icon.src);
        }
        assert.ok(declared.icons.some((icon) => icon.sizes === '192x192'));
        await page.close();
    });

    test('a playing video names itself to the Media Session, whose actions drive the player', async () => {
        const page = await browser.context.newPage();
        // The handlers the page gives the browser, kept where the test can call them
        // as a lock screen would.
        await page.addInitScript(() => {
            const set = MediaSession.prototype.setActionHandler;
            window.mediaActions = {};
            MediaSession.prototype.setActionHandler = function keep(action, handler) {
                window.mediaActions[action] = handler;
                return set.call(this, action, handler);
            };
        });
        await page.goto(`${server.base}/#/play/Movies/long.mkv`);
        await playedPast(page, 1);
        await page.locator('.nav .next').waitFor();
        const session = await page.evaluate(() => {
            const { metadata, playbackState } = navigator.mediaSession;
            return {
                title: metadata.title, artist: metadata.artist, playbackState,
                artwork: metadata.artwork.map((art) => art.src),
                actions: Object.keys(window.mediaActions).filter((name) => window.mediaActions[name]),
            };
        });
        assert.equal(session.title, 'long.mkv');
        assert.equal(session.artist, 'Movies');
        assert.equal(session.playbackState, 'playing');
        assert.deepEqual(session.actions.sort(),
            ['nexttrack', 'pause', 'play', 'previoustrack', 'seekbackward', 'seekforward', 'seekto']);
        const picture = await page.request.get(session.artwork[0]);
        assert.equal(picture.status(), 200);
        assert.match(picture.headers()['content-type'], /^image\/jpeg/);

        await page.evaluate(() => window.mediaActions.pause());
        assert.equal(await page.evaluate(() => navigator.mediaSession.playbackState), 'paused');
        await page.evaluate(() => new Promise((resolve) => {
            const video = document.querySelector('video');
            video.addEventListener('seeked', resolve, { once: true });
            window.mediaActions.seekto({ action: 'seekto', seekTime: 30 });
        }));
        assert.ok(await page.locator('video').evaluate((video) => video.currentTime >= 29.9));

        // Sorted by name, the folder's next video after long.mkv is next.mp4.
        await page.evaluate(() => window.mediaActions.nexttrack());
        await page.waitForURL(/#\/play\/Movies\/next\.mp4$/);
        await playedPast(page, 0.5);
        const next = await page.evaluate(() => ({
            title: navigator.mediaSession.metadata.title, hasNext: Boolean(window.mediaActions.nexttrack),
        }));
        assert.deepEqual(next, { title: 'next.mp4', hasNext: false });
        await page.close();
    });

    test('a stream hidden for long, whose session ended meanwhile, plays on from where it was', async () => {
        const page = await browser.context.newPage();
        await page.clock.install();
        const asked = [];
        page.on('request', (request) => asked.push(new URL(request.url())));
        await page.goto(`${server.base}/#/play/Movies/long.mkv?t=40`);
        await playedPast(page, 41);
        const played = asked.find((url) => url.pathname === '/play');
        const id = played.searchParams.get('id');

        // Hidden for a short while: nothing is asked again.
        await showPage(page, 'hidden');
        await page.clock.fastForward(5000);
        await showPage(page, 'visible');
        await playedPast(page, 42);
        assert.equal(asked.filter((url) => url.pathname === '/play').length, 1);

        // Hidden for two minutes while the server's session ends.
        await showPage(page, 'hidden');
        await page.clock.fastForward(120000);
        const ended = await fetch(`${server.base}/playEnd?id=${id}`);
        await ended.arrayBuffer();
        const gone = await fetch(`${server.base}/list/${id}/files.m3u8`);
        assert.equal(gone.status, 404);
        const before = await page.locator('video').evaluate((video) => video.currentTime);
        const wokeAt = asked.length;
        const replayed = page.waitForRequest((request) => new URL(request.url()).pathname === '/play');
        await showPage(page, 'visible');
        await replayed;
        await playedPast(page, before + 2);
        const segments = asked.slice(wokeAt).filter((url) => url.pathname.startsWith('/file/'))
            .map((url) => Number(/-(\d+)\.ts$/.exec(url.pathname)?.[1]));
        assert.ok(segments.length > 0 && segments[0] > 1, `loading went on near ${before} s: ${segments}`);
        assert.equal(await page.locator('.notice').isHidden(), true);

        // Hidden for long while the session lives on: loading starts again from the
        // same playlists, with no new "/play".
        await showPage(page, 'hidden');
        await page.clock.fastForward(120000);
        const still = await page.locator('video').evaluate((video) => video.currentTime);
        await showPage(page, 'visible');
        await playedPast(page, still + 2);
        assert.equal(asked.filter((url) => url.pathname === '/play').length, 2);
        await page.close();
    });

    test('the keyboard reaches every control with a visible ring, and the dark colours keep their contrast', async () => {
        const page = await browser.context.newPage();
        const pages = [['/', '.row .item'], ['/#/browse/Movies', '.item.video'], ['/#/play/Movies/long.mkv', '.nav a']];
        for (const [link, shown] of pages) {
            await page.goto(`${server.base}${link}`);
            await page.locator(shown).first().waitFor();
            const walk = await tabWalk(page);
            assert.deepEqual(walk.faults, [], link);
            assert.ok(walk.reached.length >= 5, `${link}: ${walk.reached}`);
        }
        // Lighthouse sees the light colours only.
        await page.emulateMedia({ colorScheme: 'dark' });
        for (const [link, shown] of pages) {
            await page.goto(`${server.base}${link}`);
            await page.locator(shown).first().waitFor();
            assert.deepEqual(await axeViolations(page), [], link);
        }
        await page.close();
    });
});
