#!/usr/bin/env node
// Lighthouse's four scores for pages of the browser client, in Debian's Chromium
// (CHROME_PATH, else /usr/bin/chromium) run headless with a profile of its own:
//
//   tools/lighthouse-report.mjs http://127.0.0.1:47002/ 'http://127.0.0.1:47002/#/play/Movies/a.mkv'
//
// prints each page's scores (0 to 100) and the audits that fell short (but for the
// performance timings, which vary with the machine's load), and exits 1 when either of those two is below
// 95 on any page. The browser tests import lighthouseScores.

import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';
import lighthouse from 'lighthouse';

export const CATEGORIES = ['performance', 'accessibility', 'best-practices', 'seo'];
export const REQUIRED = { accessibility: 95, 'best-practices': 95 };

// Starts Chromium with its DevTools port on a free loopback port; resolves with the
// port and the function that ends the browser and removes its profile.
function startChromium() {
    const profile = mkdtempSync(join(tmpdir(), 'vembacast-lighthouse-'));
    const child = spawn(process.env.CHROME_PATH || '/usr/bin/chromium', [
        '--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-sync',
        '--disable-background-networking', '--disable-component-update', '--disable-extensions',
        '--remote-debugging-address=127.0.0.1', '--remote-debugging-port=0',
        `--user-data-dir=${profile}`, 'about:blank',
    ], { stdio: ['ignore', 'ignore', 'pipe'] });
    const exited = new Promise((resolve) => child.once('exit', resolve));
    const stop = async () => {
        child.kill('SIGTERM');
        await exited;
        rmSync(profile, { recursive: true, force: true });
    };
    return new Promise((resolve, reject) => {
        let said = '';
        child.stderr.on('data', (chunk) => {
            said += chunk;
            const match = /DevTools listening on ws:\/\/[^:]+:(\d+)\//.exec(said);
            if (match)
                resolve({ port: Number(match[1]), stop });
        });
        child.once('exit', () => reject(new Error(`Chromium ended before it listened: ${said}`)));
    });
}

// The audits of a category that did not pass: "id (score)".
function shortfalls(lhr, category) {
    return lhr.categories[category].auditRefs
        .filter((ref) => ref.weight > 0)
        .map((ref) => lhr.audits[ref.id])
        .filter((audit) => audit.score !== null && audit.score < 1)
        .map((audit) => `${audit.id} (${audit.score})`);
}

// { url, scores: { performance, accessibility, 'best-practices', seo }, shortfalls:
// { accessibility: [...], 'best-practices': [...], seo: [...] } } of each URL, one
// after the other in one browser.
export async function lighthouseScores(urls) {
    const chromium = await startChromium();
    const reports = [];
    try {
        for (const url of urls) {
            const result = await lighthouse(url, {
                port: chromium.port, output: 'json', logLevel: 'error', onlyCategories: CATEGORIES,
            });
            if (!result?.lhr)
                throw new Error(`Lighthouse gave no report for ${url}`);
            if (result.lhr.runtimeError)
                throw new Error(`Lighthouse could not audit ${url}: ${result.lhr.runtimeError.message}`);
            const scores = Object.fromEntries(CATEGORIES.map((category) =>
                [category, Math.round((result.lhr.categories[category].score ?? 0) * 100)]));
            reports.push({
                url, scores,
                shortfalls: Object.fromEntries(CATEGORIES.slice(1).map((c) => [c, shortfalls(result.lhr, c)])),
            });
        }
    } finally {
        await chromium.stop();
    }
    return reports;
}

export function describeReport({ url, scores, shortfalls: missed }) {
    const figures = CATEGORIES.map((category) => `${category} ${scores[category]}`).join(', ');
    const notes = Object.entries(missed).filter(([, ids]) => ids.length)
        .map(([category, ids]) => `\n  ${category} fell short on: ${ids.join(', ')}`).join('');
    return `${url}: ${figures}${notes}`;
}

export function belowRequired(report) {
    return Object.entries(REQUIRED).filter(([category, least]) => report.scores[category] < least)
        .map(([category]) => category);
}

if (process.argv[1] && import.meta.url === pathToFileURL(process.argv[1]).href) {
    const urls = process.argv.slice(2);
    if (!urls.length) {
        console.error('usage: lighthouse-report.mjs URL...');
        process.exit(2);
    }
    const reports = await lighthouseScores(urls);
    for (const report of reports)
        console.log(describeReport(report));
    process.exit(reports.some((report) => belowRequired(report).length) ? 1 : 0);
}
