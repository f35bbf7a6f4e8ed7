// Converting from the browser client, in Chromium against the real daemon and engine:
// a person queues two videos, cancels the one converting, watches the other's
// progress to its end, plays the .m4v it leaves as it is and clears the list.

import { after, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { existsSync, rmSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { daemonAndBrowser, makeVideo, playedPast, screenshot, tempFolder } from './support.mjs';

const media = tempFolder('convert-media');
// Long enough that a conversion is seen on its way and can be cancelled on it.
makeVideo(join(media, 'first.mkv'), '640x360', 600);
makeVideo(join(media, 'second.mkv'), '640x360', 180);
// A video whose converted file is there already.
makeVideo(join(media, 'third.mkv'), '320x240', 2);
writeFileSync(join(media, 'third-vembacast.m4v'), 'not a movie');
after(() => rmSync(media, { recursive: true, force: true }));

function requestLog(page) {
    const urls = [];
    page.on('request', (request) => urls.push(new URL(request.url())));
    return urls;
}

// Waits in the page until the job named name shows state, and answers the state of
// the job named other in that same rendering of the list ('absent' when not listed).
function stateWhen(page, name, state, other) {
    return page.evaluate(([name, state, other]) => new Promise((resolve) => {
        const rowOf = (text) => Array.from(document.querySelectorAll('.job'))
            .find((row) => row.querySelector('.name')?.textContent === text);
        const observer = new MutationObserver(() => check());
        const check = () => {
            if (rowOf(name)?.dataset.state !== state)
                return;
            observer.disconnect();
            resolve(other ? rowOf(other)?.dataset.state ?? 'absent' : state);
        };
        observer.observe(document.body, { subtree: true, childList: true, attributes: true });
        check();
    }), [name, state, other]);
}

// Every progress figure the page shows for the job named name, in order, until the
// job is listed as finished; answers the figures and how it finished.
function progressUntilFinished(page, name) {
    return page.evaluate((name) => new Promise((resolve) => {
        const figures = [];
        const observer = new MutationObserver(() => check());
        const check = () => {
            const row = Array.from(document.querySelectorAll('.job'))
                .find((job) => job.querySelector('.name')?.textContent === name);
            if (row?.classList.contains('finished')) {
                observer.disconnect();
                resolve({ figures, end: row.dataset.state });
            } else if (row?.dataset.state === 'converting' && figures.at(-1) !== Number(row.dataset.progress)) {
                figures.push(Number(row.dataset.progress));
            }
        };
        observer.observe(document.body, { subtree: true, childList: true, attributes: true });
        check();
    }), name);
}

async function queueFromCard(page, name, choose) {
    await page.locator('.item.video', { hasText: name }).locator('button.convert').click();
    const dialog = page.locator('dialog.convert');
    await dialog.waitFor();
    await choose?.(dialog);
    await dialog.locator('button.start').click();
    await dialog.locator('a.show-jobs').waitFor();
    return dialog;
}

describe('conversions', () => {
    const running = daemonAndBrowser({ shares: { Movies: media } });

    test('queue two videos, cancel one while it converts, play the other\'s result', async () => {
        const page = await running.browser.context.newPage();
        const urls = requestLog(page);
        await page.goto(`${running.server.base}/#/browse/Movies`);
        await page.locator('.item.video', { hasText: 'first.mkv' }).waitFor();

        const firstDialog = await queueFromCard(page, 'first.mkv', async (dialog) => {
            await dialog.locator('select.device').selectOption('2');
            await dialog.locator('select.option').selectOption('1');
            await screenshot(page, 'convert-dialog');
        });
        const asked = urls.find((url) => url.pathname === '/convert').searchParams;
        assert.equal(asked.get('path'), '/Movies/first.mkv');
        assert.equal(asked.get('device'), '2');
        assert.equal(asked.get('option'), '1');
        await firstDialog.locator('button.close').click();
        await firstDialog.waitFor({ state: 'detached' });

        // The choice is remembered for the next video; the link leads to the list.
        const secondDialog = await queueFromCard(page, 'second.mkv', async (dialog) => {
            assert.equal(await dialog.locator('select.device').inputValue(), '2');
        });
        await secondDialog.locator('a.show-jobs').click();
        await secondDialog.waitFor({ state: 'detached' });
        assert.match(page.url(), /#\/conversions$/);

        // One engine converts at a time: the second waits while the first converts.
        assert.equal(await stateWhen(page, 'first.mkv', 'converting', 'second.mkv'), 'waiting');
        await screenshot(page, 'conversions-desktop');
        await page.locator('.job', { hasText: 'first.mkv' }).locator('button.cancel').click();
        const { figures, end } = await progressUntilFinished(page, 'second.mkv');
        assert.equal(end, 'done', `the conversion finished: ${figures}`);
        assert.ok(figures.some((figure) => figure > 0 && figure < 100), `progress was seen on its way: ${figures}`);
        assert.deepEqual(figures, [...figures].sort((a, b) => a - b), 'progress never falls');
        assert.equal(await page.locator('.job', { hasText: 'first.mkv' }).count(), 0);
        await screenshot(page, 'conversions-finished');

        // The cancelled job leaves nothing behind; the finished one its .m4v.
        assert.ok(!existsSync(join(media, 'first-vembacast.m4vtmp')), 'the cancelled temporary file is gone');
        assert.ok(!existsSync(join(media, 'first-vembacast.m4v')));
        assert.ok(existsSync(join(media, 'second-vembacast.m4v')));

        const before = urls.length;
        await page.locator('.job.finished', { hasText: 'second.mkv' }).locator('a.play-result').click();
        await playedPast(page, 2);
        const played = urls.slice(before).map((url) => url.pathname);
        assert.match(page.url(), /#\/play\/Movies\/second-vembacast\.m4v$/);
        assert.ok(played.some((path) => /^\/playdirect\/file-\d+\.m4v$/.test(path)), played.join(' '));
        assert.deepEqual(played.filter((path) => path.startsWith('/list/') || path === '/play'), []);
        assert.ok(await page.locator('.bar button.convert').isHidden(), 'a converted file offers no conversion');

        await page.goto(`${running.server.base}/#/conversions`);
        await page.locator('.finished-jobs button.clear').click();
        await page.locator('.conversions .notice:not(.error)').waitFor({ state: 'visible' });
        assert.equal(await page.locator('.job').count(), 0);
        await page.goto(`${running.server.base}/#/browse/Movies`);
        const result = page.locator('.item.video', { hasText: 'second-vembacast.m4v' });
        await result.waitFor();
        assert.equal(await result.locator('button.convert').count(), 0);
        await page.close();
    });

    test('a video whose converted file exists is refused with the reason', async () => {
        const page = await running.browser.context.newPage();
        await page.goto(`${running.server.base}/#/browse/Movies`);
        await page.locator('.item.video', { hasText: 'third.mkv' }).locator('button.convert').click();
        const dialog = page.locator('dialog.convert');
        await dialog.locator('button.start').click();
        await dialog.locator('.status.error').waitFor();
        assert.match(await dialog.locator('.status').innerText(), /converted already|이미 변환/);
        assert.ok(await dialog.locator('button.start').isEnabled(), 'another choice may be tried');
        await page.close();
    });
});
