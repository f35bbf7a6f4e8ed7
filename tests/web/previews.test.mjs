// Seek previews in the browser client, in Chromium against the real daemon and engine:
// the first opening of a video has the server make its previews, and once they are
// there, hovering or dragging the seek bar shows the picture of that time above it,
// cut out of its sprite sheet.

import { after, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { rmSync } from 'node:fs';
import { join } from 'node:path';
import { daemonAndBrowser, ffmpeg, screenshot, tempFolder } from './support.mjs';

const media = tempFolder('media');
// 65 s: pictures at 0, 10, … 60 s, 160 x 90 each, in one sheet of one row.
ffmpeg('-f', 'lavfi', '-i', 'testsrc2=duration=65:size=320x180:rate=10', '-c:v', 'libx264',
    '-preset', 'ultrafast', '-g', '20', '-pix_fmt', 'yuv420p', join(media, 'film.mp4'));
after(() => rmSync(media, { recursive: true, force: true }));

// The preview's picture as the page shows it.
async function shownPicture(page) {
    const picture = page.locator('.preview .preview-picture');
    await picture.waitFor({ state: 'visible' });
    return picture.evaluate((node) => {
        const style = getComputedStyle(node);
        return {
            position: style.backgroundPosition,
            image: style.backgroundImage,
            width: style.width,
            height: style.height,
            time: node.parentElement.querySelector('.preview-time').textContent,
        };
    });
}

describe('seek previews', () => {
    const running = daemonAndBrowser({ shares: { Movies: media } });

    test('a seek preview appears over the seek bar', async () => {
        const page = await running.browser.context.newPage();
        // Asked for when the player opens; the server answers "pending" until made.
        const track = page.waitForResponse((response) => response.url().includes('/api/v1/previews?')
            && response.status() === 200, { timeout: 120000 });
        await page.goto(`${running.server.base}/#/play/Movies/film.mp4`);
        await track;
        const seek = page.locator('input.seek');
        await page.waitForFunction(() => Number(document.querySelector('input.seek')?.max) > 60);
        const box = await seek.boundingBox();
        const y = box.y + box.height / 2;

        // Half way along the bar: 32.5 s, the fourth picture (30 s).
        await page.mouse.move(box.x + box.width * 0.5, y);
        const hovered = await shownPicture(page);
        assert.equal(hovered.position, '-480px 0px');
        assert.match(hovered.image, /preview-sheet\?path=%2FMovies%2Ffilm\.mp4&v=[0-9a-f]{16}&sheet=0&/);
        assert.equal(hovered.width, '160px');
        assert.equal(hovered.height, '90px');
        assert.equal(hovered.time, '0:32');
        // The preview stands above the bar, over the stage.
        const preview = await page.locator('.preview').boundingBox();
        assert.ok(preview.y + preview.height <= box.y, `${preview.y + preview.height} > ${box.y}`);
        // The sheet the picture is cut from loads.
        const sheet = hovered.image.replace(/^url\("?/, '').replace(/"?\)$/, '');
        const answer = await page.request.get(sheet);
        assert.equal(answer.status(), 200);
        assert.equal(answer.headers()['content-type'], 'image/jpeg');
        await screenshot(page, 'seek-preview');

        // Dragging the thumb shows the time it would land on: 80 %, 52 s, picture 5.
        await page.mouse.down();
        await page.mouse.move(box.x + box.width * 0.8, y, { steps: 4 });
        const dragged = await shownPicture(page);
        assert.equal(dragged.position, '-800px 0px');
        await page.mouse.up();
        // Letting go lands where the preview said.
        const landed = Number(await seek.inputValue());
        assert.equal(Math.floor(landed / 10), 5, `landed at ${landed}`);

        // Leaving the bar hides it.
        await page.mouse.move(box.x + box.width * 0.5, box.y - 300);
        await page.locator('.preview').waitFor({ state: 'hidden' });
        await page.close();
    });
});
