// What the browser tests share: media made by the ffmpeg tool, the real daemon on a
// free loopback port with its own data folder, and Debian's Chromium driven headless.

import { spawn, execFileSync } from 'node:child_process';
import { mkdtempSync, mkdirSync, rmSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:net';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, before } from 'node:test';
import { chromium } from 'playwright-core';

export const programFolder = process.env.VEMBACAST_BIN_DIR || join(process.cwd(), 'build', 'bin');
export const screenshotFolder = process.env.VEMBACAST_SCREENSHOTS || join(process.cwd(), 'build', 'screenshots');

export function tempFolder(prefix) {
    return mkdtempSync(join(tmpdir(), `vembacast-${prefix}-`));
}

export function ffmpeg(...args) {
    execFileSync('ffmpeg', ['-hide_banner', '-loglevel', 'error', '-y', ...args]);
}

// long.mkv (90 s, MP3 audio: transcoded), direct.mp4 (H.264 + AAC: played as it is),
// and an empty folder.
export function makeMedia() {
    const folder = tempFolder('media');
    ffmpeg('-f', 'lavfi', '-i', 'testsrc=duration=90:size=640x360:rate=25', '-f', 'lavfi',
        '-i', 'sine=duration=90', '-c:v', 'libx264', '-preset', 'ultrafast', '-c:a', 'libmp3lame',
        '-shortest', join(folder, 'long.mkv'));
    ffmpeg('-f', 'lavfi', '-i', 'testsrc2=duration=6:size=320x240:rate=25', '-f', 'lavfi',
        '-i', 'sine=duration=6', '-c:v', 'libx264', '-preset', 'ultrafast', '-pix_fmt', 'yuv420p',
        '-c:a', 'aac', '-shortest', '-movflags', '+faststart', join(folder, 'direct.mp4'));
    mkdirSync(join(folder, 'Empty'));
    return folder;
}

// A transcoded video of the given picture size and length in seconds; a long one is
// a short piece repeated, which costs no encoding.
export function makeVideo(path, size, seconds) {
    const piece = Math.min(seconds, 30);
    const repeats = Math.ceil(seconds / piece);
    const first = repeats > 1 ? `${path}.piece.mkv` : path;
    ffmpeg('-f', 'lavfi', '-i', `testsrc=duration=${piece}:size=${size}:rate=25`, '-f', 'lavfi',
        '-i', `sine=duration=${piece}`, '-c:v', 'libx264', '-preset', 'ultrafast', '-c:a', 'libmp3lame',
        '-shortest', first);
    if (repeats > 1) {
        ffmpeg('-stream_loop', String(repeats - 1), '-i', first, '-c', 'copy', path);
        rmSync(first);
    }
}

// A SAMI file with one Korean line from the start to the given second.
export function writeSami(path, seconds) {
    writeFileSync(path, '<SAMI>\r\n<HEAD>\r\n<STYLE TYPE="text/css">\r\n<!--\r\n'
        + 'P { margin-left:8pt; margin-right:8pt; text-align:center; }\r\n'
        + '.KRCC { Name:Korean; lang:ko-KR; SAMIType:CC; }\r\n-->\r\n</STYLE>\r\n</HEAD>\r\n<BODY>\r\n'
        + '<SYNC Start=0><P Class=KRCC>안녕하세요, 자막입니다\r\n'
        + `<SYNC Start=${seconds * 1000}><P Class=KRCC>&nbsp;\r\n</BODY>\r\n</SAMI>\r\n`);
}

export function freePort() {
    return new Promise((resolve, reject) => {
        const server = createServer();
        server.once('error', reject);
        server.listen(0, '127.0.0.1', () => {
            const { port } = server.address();
            server.close(() => resolve(port));
        });
    });
}

// Starts vembacastd (of the program folder, or the given program) and resolves once it
// says that it listens, on its HTTPS port too when it has one. env adds to the daemon's
// environment (its shutdown command is harmless unless a test gives one of its own).
export async function startDaemon({ shares, args = [], settings = {}, env = {}, program }) {
    const dataDir = tempFolder('data');
    const lines = Object.entries(settings).map(([key, value]) => `${key}=${value}`);
    if (lines.length)
        writeFileSync(join(dataDir, 'VembaCast.ini'), `[Setting]\r\n${lines.join('\r\n')}\r\n`);
    const port = await freePort();
    const shareArgs = Object.entries(shares).flatMap(([name, path]) => ['--share', `${name}=${path}`]);
    const child = spawn(program || join(programFolder, 'vembacastd'),
        // The television device stays off: on the machine's adapter it would announce
        // itself on the real network.
        ['--data-dir', dataDir, '--port', String(port), '--dlna', 'off', ...shareArgs, ...args],
        { env: { ...process.env, VEMBACAST_SHUTDOWN_COMMAND: 'true', ...env }, stdio: ['ignore', 'pipe', 'pipe'] });
    let output = '';
    let errors = '';
    child.stderr.on('data', (chunk) => { errors += chunk; });
    const https = args.includes('--tls-port');
    const listening = await new Promise((resolve) => {
        child.stdout.on('data', (chunk) => {
            output += chunk;
            const match = /listening on port (\d+)/.exec(output);
            if (match && (!https || /HTTPS on port \d+/.test(output)))
                resolve(Number(match[1]));
        });
        child.once('exit', () => resolve(0));
    });
    if (!listening)
        throw new Error(`vembacastd did not start: ${output} ${errors}`);
    const exited = new Promise((resolve) => child.once('exit', resolve));
    const httpsPort = /HTTPS on port (\d+)/.exec(output)?.[1];
    return {
        base: `http://127.0.0.1:${listening}`,
        port: listening,
        exited,
        httpsBase: httpsPort ? `https://localhost:${httpsPort}` : null,
        output: () => output,
        errors: () => errors,
        async stop() {
            child.kill('SIGTERM');
            await exited;
            rmSync(dataDir, { recursive: true, force: true });
        },
    };
}

// extraArgs adds to Chromium's own switches (a host resolver rule, say).
export async function launchBrowser({ extraArgs = [], ...options } = {}) {
    const profile = tempFolder('chromium');
    const context = await chromium.launchPersistentContext(profile, {
        executablePath: '/usr/bin/chromium',
        headless: true,
        acceptDownloads: true,
        args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
            '--disable-background-networking', '--disable-component-update', '--disable-sync',
            '--autoplay-policy=no-user-gesture-required', ...extraArgs],
        ...options,
    });
    return {
        context,
        async close() {
            await context.close();
            rmSync(profile, { recursive: true, force: true });
        },
    };
}

export async function screenshot(page, name) {
    mkdirSync(screenshotFolder, { recursive: true });
    await page.screenshot({ path: join(screenshotFolder, `${name}.png`) });
}

// Resolves once the one <video> element has played past the time. It listens to
// the player's own events: the page's policy forbids the evaluated strings that
// polling would need.
export async function playedPast(page, seconds) {
    await page.locator('video').waitFor({ state: 'attached' });
    await page.evaluate((limit) => new Promise((resolve) => {
        const video = document.querySelector('video');
        const check = () => {
            const played = document.querySelectorAll('video').length === 1
                && video.currentTime > limit && !video.paused;
            if (played) {
                video.removeEventListener('timeupdate', check);
                resolve();
            }
        };
        video.addEventListener('timeupdate', check);
        check();
    }), seconds);
}

// One daemon and one Chromium shared by the tests of a describe block: started before
// the first, ended after the last. Their handles are .server and .browser.
export function daemonAndBrowser(daemonOptions, browserOptions = { viewport: { width: 1280, height: 800 } }) {
    const running = {};
    before(async () => {
        running.server = await startDaemon(daemonOptions);
        running.browser = await launchBrowser(browserOptions);
    });
    after(async () => {
        await running.browser?.close();
        await running.server?.stop();
    });
    return running;
}
