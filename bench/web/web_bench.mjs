// bench/web: how long a viewer waits in the browser client, beside the ffmpeg tool
// reading the same stream as an HLS client from the same server in the same run.
//   node bench/web/web_bench.mjs [rounds]     (after building vembacastd and the engine)
// Figures: click on a video to its first frame, and a jump to 60 s to playing again; and
// a folder of 500 videos opened sorted by date: the requests it took and the time to the
// sorted grid.

import { execFile } from 'node:child_process';
import { copyFileSync, mkdirSync, rmSync, utimesSync } from 'node:fs';
import { join } from 'node:path';
import { promisify } from 'node:util';
import { ffmpeg, launchBrowser, makeMedia, startDaemon, tempFolder } from '../../tests/web/support.mjs';

const run = promisify(execFile);
const rounds = Math.max(1, Number(process.argv[2]) || 3);

function median(values) {
    const sorted = [...values].sort((a, b) => a - b);
    return sorted[Math.floor(sorted.length / 2)];
}

// The page's own clock from the click (or the jump) to the next 'playing' event.
async function browserRound(browser, base) {
    const page = await browser.context.newPage();
    await page.goto(`${base}/#/browse/Movies`);
    const card = page.locator('.item.video', { hasText: 'long.mkv' }).locator('.open');
    await card.waitFor();
    await page.evaluate(() => {
        window.benchClick = 0;
        document.addEventListener('click', () => { window.benchClick = performance.now(); }, { capture: true, once: true });
    });
    await card.click();
    await page.locator('video').waitFor({ state: 'attached' });
    const start = await page.evaluate(() => new Promise((resolve) => {
        const video = document.querySelector('video');
        video.addEventListener('playing', () => resolve(performance.now() - window.benchClick), { once: true });
    }));
    const seek = await page.evaluate(() => new Promise((resolve) => {
        const video = document.querySelector('video');
        const from = performance.now();
        video.addEventListener('seeked', () => {
            const done = () => resolve(performance.now() - from);
            if (!video.paused && video.readyState >= 3)
                done();
            else
                video.addEventListener('playing', done, { once: true });
        }, { once: true });
        video.currentTime = 60;
    }));
    await page.locator('a.back').click();
    await page.locator('.item.video').first().waitFor();
    await page.close();
    return { start, seek };
}

// A folder of count short videos, one a minute apart in modification time (the oldest first
// by name, so the date order is the name order reversed).
function makeManyVideos(count) {
    const folder = tempFolder('many');
    const first = join(folder, 'clip 000.mp4');
    ffmpeg('-f', 'lavfi', '-i', 'testsrc2=duration=1:size=160x120:rate=10', '-c:v', 'libx264',
        '-preset', 'ultrafast', '-pix_fmt', 'yuv420p', first);
    const start = Date.now() / 1000 - count * 60;
    for (let i = 0; i < count; ++i) {
        const path = join(folder, `clip ${String(i).padStart(3, '0')}.mp4`);
        if (i > 0)
            copyFileSync(first, path);
        utimesSync(path, start + i * 60, start + i * 60);
    }
    return folder;
}

// Opens the folder with the date order chosen: the requests the page made (by kind) and
// the time from the navigation to every card shown, newest first.
async function manyRound(browser, base, count) {
    const page = await browser.context.newPage();
    const requests = [];
    page.on('request', (request) => {
        const url = new URL(request.url());
        if (url.origin === base)
            requests.push({ method: request.method(), path: url.pathname });
    });
    await page.goto(`${base}/`);
    await page.evaluate(() => localStorage.setItem('vembacast.sort', 'date'));
    await page.locator('.item').first().waitFor();
    requests.length = 0;
    const from = Date.now();
    await page.goto(`${base}/#/browse/Many`);
    await page.locator('.item.video').nth(count - 1).waitFor();
    const took = Date.now() - from;
    const names = await page.locator('.item.video').evaluateAll((cards) => cards.map((c) => c.dataset.name));
    const sorted = names.length === count && names[0] === `clip ${String(count - 1).padStart(3, '0')}.mp4`
        && names[count - 1] === 'clip 000.mp4';
    const api = requests.filter((r) => r.path.startsWith('/api/')).length;
    const head = requests.filter((r) => r.method === 'HEAD').length;
    const media = requests.filter((r) => !r.path.startsWith('/api/') && r.method !== 'HEAD').length;
    await page.close();
    return { took, api, head, media, sorted };
}

async function playUrl(base) {
    const connect = await (await fetch(`${base}/connect`)).text();
    const id = /<key>message<\/key><string>([0-9A-F]{32})</.exec(connect)[1];
    const query = new URLSearchParams({ id, path: '/Movies/long.mkv', width: '1280', height: '720',
        ostype: 'web', conntype: 'WIFI', playtime: '00:01:30' });
    const answer = await (await fetch(`${base}/play?${query}`)).text();
    return { id, url: /<key>message<\/key><string>([^<]+)</.exec(answer)[1] };
}

// ffmpeg as the HLS client: from its start to its first decoded frame.
async function ffmpegRound(base, seconds) {
    const { id, url } = await playUrl(base);
    const args = ['-hide_banner', '-loglevel', 'error', ...(seconds ? ['-ss', String(seconds)] : []),
        '-i', url, '-frames:v', '1', '-f', 'null', '-'];
    const from = performance.now();
    await run('ffmpeg', args);
    const took = performance.now() - from;
    // The answer is a bare status line, which fetch reports as a failure; the end
    // has reached the server either way.
    await fetch(`${base}/playEnd?id=${id}`).catch(() => {});
    return took;
}

const media = makeMedia();
const manyCount = 500;
const many = makeManyVideos(manyCount);
const server = await startDaemon({ shares: { Movies: media, Many: many } });
const browser = await launchBrowser();
try {
    const page = { start: [], seek: [] };
    const tool = { start: [], seek: [] };
    for (let i = 0; i < rounds; ++i) {
        const round = await browserRound(browser, server.base);
        page.start.push(round.start);
        page.seek.push(round.seek);
        tool.start.push(await ffmpegRound(server.base, 0));
        tool.seek.push(await ffmpegRound(server.base, 60));
    }
    const ms = (value) => `${Math.round(value)} ms`.padStart(9);
    console.log(`web client bench, ${rounds} rounds, medians (90 s 640x360 H.264/MP3 file, preset 1)`);
    console.log(`                              browser   ffmpeg HLS client`);
    console.log(`  click/start → first frame ${ms(median(page.start))}   ${ms(median(tool.start))}`);
    console.log(`  seek to 60 s → playing    ${ms(median(page.seek))}   ${ms(median(tool.seek))}`);
    // The first opening reads no media properties before it answers; the later ones
    // find them read.
    const opened = [];
    for (let i = 0; i < rounds; ++i)
        opened.push(await manyRound(browser, server.base, manyCount));
    for (const [i, round] of opened.entries()) {
        console.log(`  folder of ${manyCount} videos by date, opening ${i + 1}: ${round.api} API request(s), `
            + `${round.head} HEAD, ${round.media} picture/other; all cards in ${round.took} ms; `
            + `newest first: ${round.sorted ? 'yes' : 'NO'}`);
    }
} finally {
    await browser.close();
    await server.stop();
    rmSync(media, { recursive: true, force: true });
    rmSync(many, { recursive: true, force: true });
}
