// bench/web: how long a viewer waits in the browser client, beside the ffmpeg tool
// reading the same stream as an HLS client from the same server in the same run.
//   node bench/web/web_bench.mjs [rounds]     (after building vembacastd and the engine)
// Figures: click on a video to its first frame, and a jump to 60 s to playing again.

import { execFile } from 'node:child_process';
import { rmSync } from 'node:fs';
import { promisify } from 'node:util';
import { launchBrowser, makeMedia, startDaemon } from '../../tests/web/support.mjs';

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
const server = await startDaemon({ shares: { Movies: media } });
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
} finally {
    await browser.close();
    await server.stop();
    rmSync(media, { recursive: true, force: true });
}
