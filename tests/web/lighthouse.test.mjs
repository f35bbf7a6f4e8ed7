// Lighthouse on the home page and the player, in Debian's Chromium against the real
// daemon (tools/lighthouse-report.mjs): accessibility and best practices score 95 at
// least on both; all four scores are printed for the record.

import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { rmSync } from 'node:fs';
import { belowRequired, describeReport, lighthouseScores } from '../../tools/lighthouse-report.mjs';
import { makeMedia, startDaemon } from './support.mjs';

const media = makeMedia();
let server;
before(async () => {
    server = await startDaemon({ shares: { Movies: media } });
});
after(async () => {
    await server?.stop();
    rmSync(media, { recursive: true, force: true });
});

test('the home page and the player score 95 in accessibility and best practices', async () => {
    const reports = await lighthouseScores([`${server.base}/`, `${server.base}/#/play/Movies/long.mkv`]);
    for (const report of reports)
        console.log(`lighthouse ${describeReport(report)}`);
    assert.equal(reports.length, 2);
    for (const report of reports)
        assert.deepEqual(belowRequired(report), [], describeReport(report));
});
