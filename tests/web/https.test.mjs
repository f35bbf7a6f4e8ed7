// The browser client over HTTPS in Chromium, trusting only the test's own authority:
// on the server's own HTTPS port, and behind Debian's nginx as a TLS reverse proxy
// that serves the server under /media/. Each watches a transcoded video through HLS,
// jumps in it, and downloads with ranges.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { readFileSync, rmSync } from 'node:fs';
import { join } from 'node:path';
import { makeMedia, playedPast, screenshot, startDaemon, tempFolder } from './support.mjs';
import { freePort, launchTrustingBrowser, makeCertificates, startProxy } from './tls_support.mjs';

const media = makeMedia();
const certificates = tempFolder('certificates');
const tls = makeCertificates(certificates);
after(() => {
    rmSync(media, { recursive: true, force: true });
    rmSync(certificates, { recursive: true, force: true });
});

function requestLog(page) {
    const urls = [];
    page.on('request', (request) => urls.push(request.url()));
    return urls;
}

// A new page on the folder Movies, giving the password when the server asks for it
// (the id cookie an earlier page earned lets a later one in without it).
async function openMovies(browser, base, password) {
    const page = await browser.context.newPage();
    const urls = requestLog(page);
    await page.goto(`${base}#/browse/Movies`);
    const form = page.locator('form.password input[type=password]');
    const video = page.locator('.item.video', { hasText: 'long.mkv' });
    await form.or(video).first().waitFor();
    if (await form.isVisible()) {
        assert.ok(password, 'the server asks for a password');
        await form.fill(password);
        await page.locator('form.password button').click();
    }
    await page.locator('.item.video', { hasText: 'long.mkv' }).waitFor();
    return { page, urls };
}

// Plays the video, jumps to 60 s and checks that every request stayed under the base
// the page came from.
async function watch(browser, base, name, password) {
    const { page, urls } = await openMovies(browser, base, password);
    const card = page.locator('.item.video', { hasText: 'long.mkv' });
    await card.locator('.open').click();
    await playedPast(page, 3);
    await page.locator('.seek').fill('60');
    await playedPast(page, 62);
    await screenshot(page, name);
    const outside = urls.filter((url) => !url.startsWith(base) && !url.startsWith('blob:') && !url.startsWith('data:'));
    assert.deepEqual(outside, [], 'every request stays on the page\'s origin and prefix');
    assert.ok(urls.some((url) => /\/list\/[0-9A-F]{32}\/movie\d+\.m3u8$/.test(url)), 'a variant playlist came');
    assert.ok(urls.some((url) => /\/file\/[0-9A-F]{32}\/vemba-\d+-1[2-9]\.ts$/.test(url)), 'segments after the jump came');
    await page.locator('a.back').click();
    await page.close();
}

// Two ranges of a download, fetched by the page itself, against the file's bytes.
async function downloadRanges(browser, base, password) {
    const { page } = await openMovies(browser, base, password);
    const href = await page.locator('.item.video', { hasText: 'direct.mp4' }).locator('a.download').getAttribute('href');
    const parts = await page.evaluate(async (link) => {
        const part = async (range) => {
            const response = await fetch(link, { headers: { Range: range } });
            return { status: response.status, range: response.headers.get('content-range'),
                bytes: Array.from(new Uint8Array(await response.arrayBuffer())) };
        };
        return [await part('bytes=100-299'), await part('bytes=-50')];
    }, href);
    const file = readFileSync(join(media, 'direct.mp4'));
    assert.equal(parts[0].status, 206);
    assert.equal(parts[0].range, `bytes 100-299/${file.length}`);
    assert.deepEqual(parts[0].bytes, Array.from(file.subarray(100, 300)));
    assert.equal(parts[1].status, 206);
    assert.deepEqual(parts[1].bytes, Array.from(file.subarray(file.length - 50)));
    await page.close();
}

describe('the server\'s own HTTPS port', () => {
    let server;
    let browser;
    before(async () => {
        server = await startDaemon({ shares: { Movies: media },
            args: ['--tls-port', String(await freePort()), '--tls-cert', tls.cert, '--tls-key', tls.key] });
        browser = await launchTrustingBrowser(tls.ca);
    });
    after(async () => {
        await browser?.close();
        await server?.stop();
    });

    test('curl with the authority trusted gets the page', () => {
        const page = execFileSync('curl', ['-sS', '--cacert', tls.ca, `${server.httpsBase}/`]).toString();
        assert.match(page, /<title>VembaCast<\/title>/);
    });

    test('Chromium browses, plays through HLS and jumps', async () => {
        await watch(browser, `${server.httpsBase}/`, 'https-player');
    });

    test('Chromium downloads with ranges', async () => {
        await downloadRanges(browser, `${server.httpsBase}/`);
    });
});

describe('behind nginx under /media/ with TLS', () => {
    let server;
    let proxy;
    let browser;
    before(async () => {
        server = await startDaemon({ shares: { Movies: media },
            args: ['--base-path', '/media', '--password', '1357', '--require-password', '--trust-proxy', '127.0.0.1'] });
        proxy = await startProxy({ prefix: '/media', backendPort: server.port, ...tls });
        browser = await launchTrustingBrowser(tls.ca);
    });
    after(async () => {
        await browser?.close();
        await proxy?.stop();
        await server?.stop();
    });

    test('the password earns a cookie for the prefix alone', async () => {
        const { page } = await openMovies(browser, proxy.base, '1357');
        const cookies = await browser.context.cookies(proxy.base);
        const id = cookies.find((cookie) => cookie.name === 'VembaCastId');
        assert.ok(id, JSON.stringify(cookies));
        assert.equal(id.path, '/media/');
        assert.equal(id.httpOnly, true);
        assert.equal(id.secure, true, 'the proxy says the client used https');
        // The URLs the server writes name the proxy's scheme, host and prefix.
        const answer = await page.evaluate(async () => (await fetch('getList?path=%2F')).text());
        assert.ok(answer.includes(`<string>${proxy.base}xml/`), answer);
        await page.close();
    });

    test('Chromium browses, plays through HLS and jumps under the prefix', async () => {
        await watch(browser, proxy.base, 'proxy-player', '1357');
    });

    test('Chromium downloads with ranges under the prefix', async () => {
        await downloadRanges(browser, proxy.base, '1357');
    });

    test('the page installs as an app that starts and stays under the prefix', async () => {
        const { page } = await openMovies(browser, proxy.base, '1357');
        const cdp = await browser.context.newCDPSession(page);
        const { url, errors, manifest } = await cdp.send('Page.getAppManifest');
        assert.equal(url, `${proxy.base}app.webmanifest`);
        assert.deepEqual(errors, []);
        assert.equal(manifest.startUrl, proxy.base);
        assert.equal(manifest.scope, proxy.base);
        assert.deepEqual((await cdp.send('Page.getInstallabilityErrors')).installabilityErrors, []);
        await page.close();
    });
});
