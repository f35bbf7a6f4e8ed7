// The page's router: the hash names what is shown (see routes.js). Pages change one
// at a time, so a player has sent its end before the next one asks to play.

import { connect, PasswordNeeded } from './api.js';
import { showFolder } from './browse.js';
import { showSearch } from './home.js';
import { showConversions } from './conversions.js';
import { el } from './dom.js';
import { language, t } from './i18n.js';
import { showPlayer } from './player.js';
import { browseLink, parseRoute } from './routes.js';
import { mountProfiles } from './profiles.js';

const view = document.getElementById('view');
const crumbs = document.getElementById('crumbs');
let leaveCurrent = null;
let generation = 0;
let queue = Promise.resolve();

function showCrumbs(segments, isPlay) {
    const parts = [el('a', { href: '#/' }, t('shares'))];
    const folders = isPlay ? segments.slice(0, -1) : segments;
    folders.forEach((name, index) => {
        parts.push(el('span', { class: 'sep', 'aria-hidden': 'true' }, '›'));
        parts.push(el('a', { href: browseLink(folders.slice(0, index + 1)) }, name));
    });
    crumbs.replaceChildren(...parts);
}

// Asks for the password; after a refusal its submit button waits out the seconds the
// server named, since a try before then would only be refused again.
function askPassword(wrong, waitSeconds = 0) {
    return new Promise((resolve) => {
        const input = el('input', {
            type: 'password', inputmode: 'numeric', autocomplete: 'current-password',
            name: 'password', maxlength: '16', required: true, id: 'password',
        });
        const form = el('form', { class: 'password' },
            el('h1', {}, t('passwordTitle')),
            el('label', { for: 'password' }, t('passwordLabel')), input,
            wrong ? el('p', { class: 'error' }, typeof wrong === 'string' ? wrong : t('passwordWrong')) : null,
            el('button', { type: 'submit', disabled: waitSeconds > 0 }, t('passwordSubmit')));
        if (waitSeconds > 0)
            setTimeout(() => { form.querySelector('button').disabled = false; }, waitSeconds * 1000);
        form.addEventListener('submit', (event) => {
            event.preventDefault();
            resolve(input.value);
        });
        crumbs.replaceChildren();
        view.replaceChildren(form);
        input.focus();
    });
}

// Connects with a password until the server takes one; a refusal shows the server's
// own words (a wrong password, or a wait after one).
async function unlock() {
    let wrong = false;
    let waitSeconds = 0;
    for (;;) {
        const password = await askPassword(wrong, waitSeconds);
        try {
            await connect(password);
            return;
        } catch (error) {
            if (!(error instanceof PasswordNeeded))
                throw error;
            wrong = error.message || true;
            waitSeconds = error.retryAfter;
        }
    }
}

async function render() {
    const mine = ++generation;
    if (leaveCurrent) {
        const leave = leaveCurrent;
        leaveCurrent = null;
        await leave(false);
    }
    // A dialog belongs to the page it was opened on.
    document.querySelectorAll('dialog').forEach((dialog) => dialog.close());
    const route = parseRoute(location.hash);
    showCrumbs(route.segments, route.view === 'play');
    document.title = tabTitle(route);
    try {
        if (route.view === 'play')
            leaveCurrent = await showPlayer(view, route.segments, route.start);
        else if (route.view === 'conversions')
            leaveCurrent = await showConversions(view);
        else if (route.view === 'search')
            await showSearch(view, route.query, () => mine === generation);
        else
            await showFolder(view, route.segments, () => mine === generation);
    } catch (error) {
        if (error instanceof PasswordNeeded) {
            if (leaveCurrent) {
                await leaveCurrent(false);
                leaveCurrent = null;
            }
            await unlock();
            return render();
        }
        view.replaceChildren(el('p', { class: 'notice error' },
            error instanceof TypeError ? t('serverGone') : t('denied')));
    }
}

// What the tab says: the video, folder or search shown, then the program.
function tabTitle(route) {
    let shown = route.segments.at(-1);
    if (route.view === 'search')
        shown = t('searchTitle', route.query);
    else if (route.view === 'conversions')
        shown = t('conversions');
    return shown ? `${shown} – VembaCast` : 'VembaCast';
}

function schedule() {
    queue = queue.then(render, render);
}

document.documentElement.lang = language;
document.getElementById('jobs-link').textContent = t('conversions');
window.addEventListener('hashchange', schedule);
// A page back from the browser's page cache ended its player when it was hidden.
window.addEventListener('pageshow', (event) => { if (event.persisted) schedule(); });
mountProfiles(document.getElementById('profile'), schedule);
schedule();
