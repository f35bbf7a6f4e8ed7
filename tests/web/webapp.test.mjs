// The browser client as an installed app, in Chromium against the real daemon: the
// manifest and its icons, Chromium's own verdict on installing the page, the Media
// Session that a lock screen and media keys use, and a live stream that comes back
// when the page is shown again after a long time hidden and its server session ended.

import { after, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { copyFileSync, readFileSync, rmSync } from 'node:fs';
import { join } from 'node:path';
import { daemonAndBrowser, makeMedia, playedPast } from './support.mjs';

const media = makeMedia();
copyFileSync(join(media, 'direct.mp4'), join(media, 'next.mp4'));
after(() => rmSync(media, { recursive: true, force: true }));

// The width and height a PNG's header names.
function pngSize(bytes) {
    assert.equal(bytes.toString('latin1', 1, 4), 'PNG');
    return `${bytes.readUInt32BE(16)}x${bytes.readUInt32BE(20)}`;
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

// Moves the page's wall clock on by ms, as a screen that was off for that long would
// find it; the page's timers and media are left alone.
function skipTime(page, ms) {
    return page.evaluate((step) => {
        if (!window.skippedTime) {
            const realNow = Date.now;
            window.skippedTime = 0;
            Date.now = () => realNow() + window.skippedTime;
        }
        window.skippedTime += step;
    }, ms);
}

// Walks the page with Tab until focus comes round again; answers what it found wrong:
// a control shown but never reached, a focus ring missing or cut by a box that clips.
async function tabWalk(page) {
    const faults = [];
    await page.evaluate(() => {
        document.querySelectorAll('[data-walked]').forEach((node) => { delete node.dataset.walked; });
        document.activeElement?.blur();
    });
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
            const name = `${node.tagName.toLowerCase()}.${node.className}`;
            const out = style.outlineStyle === 'none' || parseFloat(style.outlineWidth) < 2 ? [`${name} shows no ring`] : [];
            for (let up = node.parentElement; up; up = up.parentElement) {
                const clip = up.getBoundingClientRect();
                if (getComputedStyle(up).overflow !== 'visible' && (box.left - reach < clip.left || box.top - reach < clip.top
                    || box.right + reach > clip.right || box.bottom + reach > clip.bottom))
                    out.push(`${name} has its ring cut by .${up.className}`);
            }
            return out;
        });
        if (!found)
            break;
        faults.push(...found);
    }
    return [...faults, ...await page.evaluate(() => [...document.querySelectorAll('a[href], button, input, select, [tabindex]')]
        .filter((node) => node.getClientRects().length && !node.disabled && !node.dataset.walked)
        .map((node) => `${node.tagName.toLowerCase()}.${node.className} is out of reach`))];
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
    const running = daemonAndBrowser({ shares: { Movies: media } });

    test('the manifest is valid, its icons load and Chromium finds the page installable', async () => {
        const answer = await fetch(`${running.server.base}/app.webmanifest`);
        assert.equal(answer.headers.get('content-type'), 'application/manifest+json');
        const page = await running.browser.context.newPage();
        await page.goto(`${running.server.base}/`);
        await page.locator('.item').first().waitFor();
        const cdp = await running.browser.context.newCDPSession(page);
        const manifest = await cdp.send('Page.getAppManifest');
        assert.equal(manifest.url, `${running.server.base}/app.webmanifest`);
        assert.deepEqual(manifest.errors, []);
        // Relative URLs resolve against the manifest's own URL, so a proxy's prefix
        // carries over to the start page and the scope.
        assert.equal(manifest.manifest.startUrl, `${running.server.base}/`);
        assert.equal(manifest.manifest.scope, `${running.server.base}/`);
        assert.match(manifest.manifest.display, /standalone$/i);
        assert.deepEqual((await cdp.send('Page.getInstallabilityErrors')).installabilityErrors, []);

        const icons = JSON.parse(manifest.data).icons.filter((icon) => icon.type === 'image/png');
        assert.deepEqual(icons.map((icon) => `${icon.sizes} ${icon.purpose}`),
            ['192x192 any', '512x512 any', '512x512 maskable']);
        for (const icon of icons) {
            const image = await page.request.get(new URL(icon.src, manifest.url).href);
            assert.equal(image.headers()['content-type'], 'image/png');
            assert.equal(pngSize(await image.body()), icon.sizes, icon.src);
        }
        await page.close();
    });

    test('a playing video names itself to the Media Session, whose actions drive the player', async () => {
        const page = await running.browser.context.newPage();
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
        await page.goto(`${running.server.base}/#/play/Movies/long.mkv`);
        await playedPast(page, 1);
        await page.locator('.nav .next').waitFor();
        const session = await page.evaluate(() => ({
            title: navigator.mediaSession.metadata.title, artist: navigator.mediaSession.metadata.artist,
            state: navigator.mediaSession.playbackState, artwork: navigator.mediaSession.metadata.artwork[0].src,
            actions: Object.keys(window.mediaActions).filter((name) => window.mediaActions[name]).sort(),
        }));
        assert.deepEqual({ ...session, artwork: undefined }, {
            title: 'long.mkv', artist: 'Movies', state: 'playing', artwork: undefined,
            actions: ['nexttrack', 'pause', 'play', 'previoustrack', 'seekbackward', 'seekforward', 'seekto'],
        });
        assert.match((await page.request.get(session.artwork)).headers()['content-type'], /^image\/jpeg/);

        const moved = await page.locator('video').evaluate((video) => new Promise((resolve) => {
            window.mediaActions.pause();
            video.addEventListener('seeked', () => resolve([navigator.mediaSession.playbackState, video.currentTime >= 29.9]), { once: true });
            window.mediaActions.seekto({ action: 'seekto', seekTime: 30 });
        }));
        assert.deepEqual(moved, ['paused', true]);

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
        const page = await running.browser.context.newPage();
        const asked = [];
        page.on('request', (request) => asked.push(new URL(request.url())));
        await page.goto(`${running.server.base}/#/play/Movies/long.mkv?t=40`);
        await playedPast(page, 41);
        const played = asked.find((url) => url.pathname === '/play');
        const id = played.searchParams.get('id');

        // Hidden for a short while: nothing is asked again.
        await showPage(page, 'hidden');
        await skipTime(page, 5000);
        await showPage(page, 'visible');
        await playedPast(page, 42);
        assert.equal(asked.filter((url) => url.pathname === '/play').length, 1);

        // Hidden for two minutes while the server's session ends.
        await showPage(page, 'hidden');
        await skipTime(page, 120000);
        await (await fetch(`${running.server.base}/playEnd?id=${id}`)).arrayBuffer();
        assert.equal((await fetch(`${running.server.base}/list/${id}/files.m3u8`)).status, 404);
        const before = await page.locator('video').evaluate((video) => video.currentTime);
        const replayed = page.waitForRequest((request) => new URL(request.url()).pathname === '/play');
        await showPage(page, 'visible');
        await replayed;
        await playedPast(page, before + 2);
        // The first segments asked after the new "/play" are those near the position.
        const segments = asked.slice(asked.findLastIndex((url) => url.pathname === '/play')).filter((url) => url.pathname.startsWith('/file/'))
            .map((url) => Number(/-(\d+)\.ts$/.exec(url.pathname)?.[1]));
        assert.ok(segments.length > 0 && segments[0] > 1, `loading went on near ${before} s: ${segments}`);
        assert.equal(await page.locator('.notice').isHidden(), true);

        // Hidden for long while the session lives on: loading starts again from the
        // same playlists, with no new "/play".
        await showPage(page, 'hidden');
        await skipTime(page, 120000);
        const still = await page.locator('video').evaluate((video) => video.currentTime);
        await showPage(page, 'visible');
        await playedPast(page, still + 2);
        assert.equal(asked.filter((url) => url.pathname === '/play').length, 2);
        await page.close();
    });

    test('the keyboard reaches every control with a visible ring, and the dark colours keep their contrast', async () => {
        const page = await running.browser.context.newPage();
        const pages = [['/', '.row .item'], ['/#/browse/Movies', '.item.video'], ['/#/play/Movies/long.mkv', '.nav a']];
        for (const [link, shown] of pages) {
            await page.goto(`${running.server.base}${link}`);
            await page.locator(shown).first().waitFor();
            assert.deepEqual(await tabWalk(page), [], link);
            assert.ok(await page.locator('[data-walked]').count() >= 5, link);
            // Lighthouse sees the light colours only.
            await page.emulateMedia({ colorScheme: 'dark' });
            assert.deepEqual(await axeViolations(page), [], link);
            await page.emulateMedia({ colorScheme: 'light' });
        }
        await page.close();
    });
});
