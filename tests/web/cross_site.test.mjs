// Pages of other origins against the real daemon in Chromium: an <img>, a fetch
// (no-cors) and a form each aimed at "/serverOff" and "/convert" from another site and
// from another port of the same host do nothing, with and without the password mode,
// while the server's own page still acts; and a foreign name that resolves to the
// server (DNS rebinding) gets 421 for every request.

import { after, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { existsSync, rmSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { join } from 'node:path';
import { launchBrowser, startDaemon, tempFolder } from './support.mjs';

const media = tempFolder('cross-media');
writeFileSync(join(media, 'clip.mkv'), 'a file to convert');
after(() => rmSync(media, { recursive: true, force: true }));

// The attacker's page: every kind of request a page can send without the server's
// consent, aimed at the server; its title turns "done" once each has ended.
function attackPage(target) {
    const convert = `${target}/convert?path=%2FMovies%2Fclip.mkv&device=0&option=0`;
    const off = `${target}/serverOff`;
    return `<!doctype html><html><body>
<iframe name="sink1"></iframe><iframe name="sink2"></iframe>
<form id="f1" target="sink1" method="get" action="${target}/convert">
<input name="path" value="/Movies/clip.mkv"></form>
<form id="f2" target="sink2" method="get" action="${off}"></form>
<script>
const pending = [];
for (const url of [${JSON.stringify(off)}, ${JSON.stringify(convert)}]) {
    pending.push(new Promise((done) => { const img = new Image(); img.onload = img.onerror = done; img.src = url; }));
    pending.push(fetch(url, { mode: 'no-cors', credentials: 'include' }).catch(() => {}));
}
for (const [form, sink] of [['f1', 'sink1'], ['f2', 'sink2']]) {
    pending.push(new Promise((done) => { document.getElementsByName(sink)[0].onload = done; }));
    document.getElementById(form).submit();
}
Promise.all(pending).then(() => { document.title = 'done'; });
</script></body></html>`;
}

// A plain HTTP server for the attacker's page on a port of its own.
async function servePage(html) {
    const server = createServer((request, response) => {
        response.writeHead(200, { 'content-type': 'text/html' });
        response.end(html);
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    return { port: server.address().port, close: () => new Promise((resolve) => server.close(resolve)) };
}

// The jobs the server holds, read by the server's own page.
function jobCount(page) {
    return page.evaluate(async () => {
        const answer = await (await fetch('/convertList')).text();
        const url = /<key>fileurl<\/key><string>([^<]*)<\/string>/.exec(answer)[1];
        const list = await (await fetch(new URL(url).pathname)).text();
        return (list.match(/<key>convertid<\/key>/g) || []).length;
    });
}

for (const mode of ['open', 'password']) {
    describe(`requests from other origins (${mode} mode)`, () => {
        test('do nothing, while the own page still acts', async () => {
            const folder = tempFolder('cross-marker');
            const marker = join(folder, 'powered-off');
            const args = mode === 'password' ? ['--password', '1234', '--require-password'] : [];
            const daemon = await startDaemon({
                shares: { Movies: media }, args, env: { VEMBACAST_SHUTDOWN_COMMAND: `touch '${marker}'` },
            });
            const browser = await launchBrowser({
                args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run',
                    '--host-resolver-rules=MAP attacker.test 127.0.0.1'],
            });
            try {
                const page = await browser.context.newPage();
                await page.goto(`${daemon.base}/`);
                if (mode === 'password') {
                    // The owner is logged in: the browser holds the id cookie.
                    await page.locator('#password').fill('1234');
                    await page.locator('form.password button').click();
                    await page.locator('#password').waitFor({ state: 'detached' });
                }
                const samePortless = await servePage(attackPage(daemon.base));
                try {
                    for (const origin of [`http://127.0.0.1:${samePortless.port}`,
                        `http://attacker.test:${samePortless.port}`]) {
                        const attacker = await browser.context.newPage();
                        await attacker.goto(`${origin}/`);
                        await attacker.waitForFunction(() => document.title === 'done');
                        await attacker.close();
                    }
                } finally {
                    await samePortless.close();
                }
                assert.equal(existsSync(marker), false, 'a page of another origin powered off');
                assert.equal(await jobCount(page), 0, 'a page of another origin queued a job');

                // The own page's request goes through (the power button of the phone's API).
                const answer = await page.evaluate(async () => (await fetch('/serverOff')).text());
                assert.match(answer, /<key>result<\/key><string>0<\/string>/);
            } finally {
                await browser.close();
                await daemon.stop();
                rmSync(folder, { recursive: true, force: true });
            }
        });
    });
}

describe('a foreign name that resolves to the server', () => {
    test('gets 421 for every request', async () => {
        const daemon = await startDaemon({ shares: { Movies: media } });
        const browser = await launchBrowser({
            args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run',
                '--host-resolver-rules=MAP evil.example 127.0.0.1'],
        });
        try {
            const page = await browser.context.newPage();
            for (const path of ['/', '/index.html', '/app.css', '/connect', '/getList?path=%2F',
                '/xml/fil0123456789ABCDEF0123456789ABCDEF.tmp']) {
                const response = await page.goto(`http://evil.example:${daemon.port}${path}`);
                assert.equal(response.status(), 421, path);
                assert.match(await response.text(), /AllowedHosts/);
            }
        } finally {
            await browser.close();
            await daemon.stop();
        }
    });
});
