// Conversions: a dialog that queues a video with the device and quality the server
// offers, and a page that lists the server's jobs with their progress, cancels them
// and clears the finished ones. The page reads the list again twice a second while
// a job is open, less often otherwise, and keeps each job's row so that a refresh
// never moves a button under the pointer.

import { ApiError, cancelConversion, clearFinishedConversions, conversionList, convert, PasswordNeeded, RESULT } from './api.js';
import { el } from './dom.js';
import { t } from './i18n.js';
import { downloadUrl, playLink, serverPath } from './routes.js';

const CHOICE_KEY = 'vembacast.convert';
const JOBS_KEY = 'vembacast.jobs';
const MAX_REMEMBERED_JOBS = 200;
const BUSY_REFRESH_MS = 500;
const IDLE_REFRESH_MS = 5000;
const DEVICES = [0, 1, 2];
const OPTIONS = [0, 1, 2];
const CONVERTED_SUFFIX = '-vembacast.m4v';

// The video bitrate the server gives a choice: the device's base bitrate, and half,
// seven tenths (the single-precision 0.7, truncated) or all of it.
export function conversionBitrate(device, option) {
    const base = { 1: 1500, 2: 2000 }[device] ?? 1200;
    if (option === 0)
        return base / 2;
    if (option === 2)
        return base;
    return Math.trunc(base * Math.fround(0.7));
}

// The converted file's place: beside the video, its name without the extension
// followed by the converted suffix.
export function convertedSegments(segments) {
    const name = segments.at(-1);
    const dot = name.lastIndexOf('.');
    return [...segments.slice(0, -1), (dot > 0 ? name.slice(0, dot) : name) + CONVERTED_SUFFIX];
}

function readStored(key) {
    try {
        const value = JSON.parse(localStorage.getItem(key) || 'null');
        return value && typeof value === 'object' && !Array.isArray(value) ? value : {};
    } catch {
        return {};
    }
}

function savedChoice() {
    const stored = readStored(CHOICE_KEY);
    return {
        device: DEVICES.includes(stored.device) ? stored.device : 0,
        option: OPTIONS.includes(stored.option) ? stored.option : 2,
    };
}

// The videos that this browser queued, by convert id, so that a finished job links
// to its result; the server's list names only the file.
function rememberedJobs() {
    const jobs = readStored(JOBS_KEY);
    const valid = {};
    for (const [id, segments] of Object.entries(jobs)) {
        if (Array.isArray(segments) && segments.length >= 2 && segments.every((s) => typeof s === 'string'))
            valid[id] = segments;
    }
    return valid;
}

function storeJobs(jobs) {
    const kept = Object.entries(jobs).slice(-MAX_REMEMBERED_JOBS);
    try {
        localStorage.setItem(JOBS_KEY, JSON.stringify(Object.fromEntries(kept)));
    } catch {
        // A full or disabled store only costs the links to results.
    }
}

function queueText(error) {
    if (error instanceof ApiError && error.result === RESULT.DUPLICATE_NAME)
        return t('convertDuplicate');
    if (error instanceof ApiError && error.result === RESULT.NOT_EXIST)
        return t('noSuchFile');
    return t('convertRefused');
}

function choiceSelect(name, values, label, chosen) {
    return el('select', { name, class: name },
        values.map((value) => el('option', { value, selected: value === chosen }, label(value))));
}

// Asks how to convert the video at segments and queues it.
export function openConvertDialog(segments) {
    const choice = savedChoice();
    const device = choiceSelect('device', DEVICES, (d) => t(`device${d}`), choice.device);
    const option = choiceSelect('option', OPTIONS,
        (o) => t(`option${o}`, conversionBitrate(choice.device, o)), choice.option);
    device.addEventListener('change', () => {
        for (const entry of option.options)
            entry.textContent = t(`option${entry.value}`, conversionBitrate(Number(device.value), Number(entry.value)));
    });
    const status = el('p', { class: 'status', role: 'status' });
    const start = el('button', { type: 'submit', class: 'start' }, t('convertStart'));
    const close = el('button', { type: 'button', class: 'close' }, t('cancel'));
    const form = el('form', { class: 'convert-form' },
        el('h2', {}, t('convertTitle', segments.at(-1))),
        el('p', { class: 'hint' }, t('convertHint')),
        el('label', {}, t('device'), device),
        el('label', {}, t('quality'), option),
        status,
        el('div', { class: 'buttons' }, close, start));
    const dialog = el('dialog', { class: 'convert' }, form);
    close.addEventListener('click', () => dialog.close());
    dialog.addEventListener('close', () => dialog.remove());
    form.addEventListener('submit', async (event) => {
        event.preventDefault();
        start.disabled = true;
        status.classList.remove('error');
        const chosen = { device: Number(device.value), option: Number(option.value) };
        try {
            const id = await convert(serverPath(segments), chosen.device, chosen.option);
            localStorage.setItem(CHOICE_KEY, JSON.stringify(chosen));
            storeJobs({ ...rememberedJobs(), [id]: segments });
            const link = el('a', { href: '#/conversions', class: 'show-jobs' }, t('showConversions'));
            link.addEventListener('click', () => dialog.close());
            status.replaceChildren(t('convertQueued'), ' ', link);
            close.textContent = t('close');
        } catch (error) {
            status.classList.add('error');
            status.textContent = error instanceof TypeError ? t('serverGone') : queueText(error);
            start.disabled = false;
        }
    });
    document.body.append(dialog);
    dialog.showModal();
    return dialog;
}

// Puts nodes into parent in this order, touching the tree only where it differs.
function syncChildren(parent, nodes) {
    const current = Array.from(parent.children);
    if (current.length === nodes.length && current.every((node, i) => node === nodes[i]))
        return;
    parent.replaceChildren(...nodes);
}

function openRow(job, onCancel) {
    const state = el('span', { class: 'state' });
    const bar = el('progress', { max: '100' });
    const cancel = el('button', { type: 'button', class: 'cancel' }, t('cancelJob'));
    cancel.addEventListener('click', () => { cancel.disabled = true; onCancel(job.id); });
    const node = el('li', { class: 'job open', dataset: { id: job.id } },
        el('span', { class: 'name' }, job.name), bar, state, cancel);
    const update = (next) => {
        const converting = next.progress !== null;
        node.dataset.state = converting ? 'converting' : 'waiting';
        node.dataset.progress = converting ? String(next.progress) : '';
        if (converting)
            bar.value = next.progress;
        else
            bar.removeAttribute('value');
        state.textContent = converting ? t('jobConverting', next.progress) : t('jobWaiting');
    };
    return { node, update };
}

function finishedRow(job, segments, onCancel) {
    const remove = el('button', { type: 'button', class: 'remove' }, t('removeJob'));
    remove.addEventListener('click', () => { remove.disabled = true; onCancel(job.id); });
    // A failed job's name carries the server's failure text after a comma; the name
    // this browser queued reads better when it is known.
    const name = segments ? segments.at(-1) : job.name;
    const result = !job.failed && segments ? convertedSegments(segments) : null;
    const node = el('li', { class: 'job finished', dataset: { id: job.id, state: job.failed ? 'failed' : 'done' } },
        el('span', { class: 'name' }, name),
        el('span', { class: `state${job.failed ? ' error' : ''}` }, job.failed ? t('jobFailed') : t('jobDone')),
        result ? el('a', { class: 'play-result', href: playLink(result) }, t('play')) : null,
        result ? el('a', { class: 'download', href: downloadUrl(result), download: result.at(-1) }, t('download')) : null,
        remove);
    return { node, update() {} };
}

// Shows the job list in view; returns the function that stops its refreshing.
export async function showConversions(view) {
    const openList = el('ul', { class: 'jobs' });
    const finishedList = el('ul', { class: 'jobs' });
    const clear = el('button', { type: 'button', class: 'clear' }, t('clearFinished'));
    const empty = el('p', { class: 'notice' }, t('noJobs'));
    const problem = el('p', { class: 'notice error', hidden: true });
    const openPart = el('section', { class: 'open-jobs' }, el('h2', {}, t('jobsOpen')), openList);
    const finishedPart = el('section', { class: 'finished-jobs' },
        el('div', { class: 'heading' }, el('h2', {}, t('jobsFinished')), clear), finishedList);
    view.replaceChildren(el('div', { class: 'conversions' },
        el('h1', {}, t('conversions')), problem, empty, openPart, finishedPart));

    const rows = new Map();
    let stopped = false;
    let timer = null;
    let asked = 0;
    let shown = 0;

    const rowOf = (job, kind, make) => {
        const key = `${kind}:${job.id}`;
        const row = rows.get(key) ?? make();
        rows.set(key, row);
        row.update(job);
        return [key, row.node];
    };
    const show = (list) => {
        const remembered = rememberedJobs();
        const open = list.open.map((job) => rowOf(job, 'open', () => openRow(job, cancelJob)));
        const finished = list.finished.map((job) =>
            rowOf(job, 'finished', () => finishedRow(job, remembered[job.id], cancelJob)));
        const listed = new Set([...open, ...finished].map(([key]) => key));
        for (const key of rows.keys()) {
            if (!listed.has(key))
                rows.delete(key);
        }
        syncChildren(openList, open.map(([, node]) => node));
        syncChildren(finishedList, finished.map(([, node]) => node));
        openPart.hidden = open.length === 0;
        finishedPart.hidden = finished.length === 0;
        empty.hidden = open.length + finished.length > 0;
        const ids = new Set([...list.open, ...list.finished].map((job) => job.id));
        storeJobs(Object.fromEntries(Object.entries(remembered).filter(([id]) => ids.has(id))));
    };
    // Answers can overtake each other (a cancel while a refresh is on its way): only
    // an answer newer than the one shown is shown.
    const refresh = async (request, rethrow) => {
        const mine = ++asked;
        clearTimeout(timer);
        let busy = false;
        try {
            const list = await request();
            busy = list.open.length > 0;
            if (!stopped && mine > shown) {
                shown = mine;
                show(list);
                problem.hidden = true;
            }
        } catch (error) {
            if (rethrow || error instanceof PasswordNeeded)
                throw error;
            if (!stopped && mine > shown) {
                problem.textContent = error instanceof TypeError ? t('serverGone') : t('denied');
                problem.hidden = false;
            }
        }
        if (!stopped && mine === asked)
            timer = setTimeout(() => refresh(conversionList).catch(() => {}), busy ? BUSY_REFRESH_MS : IDLE_REFRESH_MS);
    };
    const cancelJob = (id) => refresh(() => cancelConversion(id).catch((error) => {
        // A job that has left the queue meanwhile: the list shows what is left.
        if (error instanceof ApiError && error.result === RESULT.FAILED_ID)
            return conversionList();
        throw error;
    })).catch(() => {});
    clear.addEventListener('click', () => refresh(clearFinishedConversions).catch(() => {}));

    await refresh(conversionList, true);
    return async () => {
        stopped = true;
        clearTimeout(timer);
    };
}
