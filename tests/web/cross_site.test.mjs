// Pages of other origins against the real daemon in Chromium: an <img>, a fetch
// (no-cors) and a form each aimed at "/serverOff" and "/convert" from another site and
// from another port of the same host do nothing, with and without the password mode,
// while the server's own page still acts; and a foreign name that resolves to the
// server (DNS rebinding) gets 421 for every request.

import { after, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { copyFileSync, existsSync, mkdirSync, rmSync } from 'node:fs';
import { createServer } from 'node:http';
import { join } from 'node:path';
import { launchBrowser, makeVideo, startDaemon, tempFolder } from './support.mjs';

const root = tempFolder('cross-site');
const clip = join(root, 'clip.mkv');
makeVideo(clip, '320x240', 2);
after(() => rmSync(root, { recursive: true, force: true }));

// A share of its own holding the clip: a conversion leaves its file beside it.
function share(name) {
    const folder = join(root, name);
    mkdirSync(folder);
    copyFileSync(clip, join(folder, 'clip.mkv'));
    return folder;
}

// The attacker's page: every kind of request a page can send without the server's
// consent, aimed at the server, carrying the owner's id as if it had leaked; its title
// turns "done" once each has ended.
function attackPage(target, id) {
    const convert = `${target}/convert?id=${id}&path=%2FMovies%2Fclip.mkv&device=0&option=0`;
    const off = `${target}/serverOff?id=${id}`;
    return `<!doctype html><html><body>
<iframe name="sink1"></iframe><iframe name="sink2"></iframe>
<form id="f1" target="sink1" method="get" action="${target}/convert">
<input name="id" value="${id}"><input name="path" value="/Movies/clip.mkv"></form>
<form id="f2" target="sink2" method="get" action="${target}/serverOff"></form>
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

// A plain HTTP server for the attacker's page on a port of its own. Its close also
// ends the connections the browser keeps open (they would hold it for minutes).
async function servePage(html) {
    const server = createServer((request, response) => {
        response.writeHead(200, { 'content-type': 'text/html' });
        response.end(html);
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    return {
        port: server.address().port,
        close: () => new Promise((resolve) => {
            server.close(resolve);
            server.closeAllConnections();
        }),
    };
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

// The id the owner's browser holds: the cookie's when the server checks its password,
// else one the server hands to anybody.
async function ownerId(browser, daemon, mode) {
    if (mode === 'password')
        return (await browser.context.cookies(daemon.base)).find((c) => c.name === 'VembaCastId').value;
    const answer = await (await fetch(`${daemon.base}/connect`)).text();
    return /<key>message<\/key><string>([0-9A-F]{32})</.exec(answer)[1];
}

for (const mode of ['open', 'password']) {
    describe(`requests from other origins (${mode} mode)`, () => {
        test('do nothing, while the own page still acts', async () => {
            const marker = join(root, `powered-off-${mode}`);
            const args = mode === 'password' ? ['--password', '1234', '--require-password'] : [];
            const daemon = await startDaemon({
                shares: { Movies: share(mode) }, args, env: { VEMBACAST_SHUTDOWN_COMMAND: `touch '${marker}'` },
            });
            const browser = await launchBrowser({ extraArgs: ['--host-resolver-rules=MAP attacker.test 127.0.0.1'] });
            try {
                const page = await browser.context.newPage();
                await page.goto(`${daemon.base}/#/browse/Movies`);
                if (mode === 'password') {
                    // The owner is logged in: the browser holds the id cookie.
                    await page.locator('#password').fill('1234');
                    await page.locator('form.password button').click();
                }
                const card = page.locator('.item.video', { hasText: 'clip.mkv' });
                await card.waitFor();
                const attack = await servePage(attackPage(daemon.base, await ownerId(browser, daemon, mode)));
                try {
                    // Another port of the same host (same site), then another site.
                    for (const origin of [`http://127.0.0.1:${attack.port}`, `http://attacker.test:${attack.port}`]) {
                        const attacker = await browser.context.newPage();
                        await attacker.goto(`${origin}/`);
                        await attacker.waitForFunction(() => document.title === 'done');
                        await attacker.close();
                    }
                } finally {
                    await attack.close();
                }
                assert.equal(existsSync(marker), false, 'a page of another origin powered off');
                assert.equal(await jobCount(page), 0, 'a page of another origin queued a job');

                // The own page's convert button queues the job.
                await card.locator('button.convert').click();
                await page.locator('dialog.convert button.start').click();
                await page.locator('dialog.convert a.show-jobs').waitFor();
                assert.equal(await jobCount(page), 1);
                // Its own request powers off (the phone's power button, sent from the page).
                const answer = await page.evaluate(async () => (await fetch('/serverOff')).text());
                assert.match(answer, /<key>result<\/key><string>0<\/string>/);
                await daemon.exited;
                assert.equal(existsSync(marker), true, 'the own page could not power off');
            } finally {
                await browser.close();
                await daemon.stop();
            }
        });
    });
}

describe('a foreign name that resolves to the server', () => {
    test('gets 421 for every request', async () => {
        const daemon = await startDaemon({ shares: { Movies: share('rebound') } });
        const browser = await launchBrowser({ extraArgs: ['--host-resolver-rules=MAP evil.example 127.0.0.1'] });
        try {
            const page = await browser.context.newPage();
            for (const path of ['/', '/index.html', '/app.css', '/connect', '/getList?path=%2F',
                '/serverOff', '/convert?path=%2FMovies%2Fclip.mkv', '/xml/fil0123456789ABCDEF0123456789ABCDEF.tmp']) {
                const response = await page.goto(`http://evil.example:${daemon.port}${path}`);
                assert.equal(response.status(), 421, path);
                assert.match(await response.text(), /AllowedHosts/);
            }
            // The same server under its address still answers.
            assert.equal((await page.goto(`${daemon.base}/`)).status(), 200);
        } finally {
            await browser.close();
            await daemon.stop();
        }
    });
});
