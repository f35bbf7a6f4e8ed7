// The profile picker in the page's header: who is watching. A profile is a name kept in
// this browser (api.js sends it with every position); the server keeps the household's
// profiles, at most 20. Choosing, making or deleting one calls changed(), which shows
// the page again for the profile now chosen ("Continue watching" follows it).

import { ApiError, chooseProfile, createProfile, currentProfile, DEFAULT_PROFILE, deleteProfile, listProfiles } from './api.js';
import { el } from './dom.js';
import { t } from './i18n.js';

const MAX_NAME_CHARS = 40;

// The name as it will be kept, or null when it is not 1 to 40 characters.
export function profileNameOf(text) {
    const name = String(text ?? '').trim();
    const length = [...name].length;
    return length >= 1 && length <= MAX_NAME_CHARS ? name : null;
}

// The names to offer: the server's profiles, with the default and the current one
// even before they have a position.
export function offeredNames(serverNames, current) {
    const names = [DEFAULT_PROFILE, ...serverNames];
    if (!names.includes(current))
        names.push(current);
    return [...new Set(names)];
}

function refusalText(error) {
    return error instanceof ApiError && error.result !== -1 && !/^HTTP \d+$/.test(error.message)
        ? error.message : t('profileRefused');
}

export function mountProfiles(holder, changed) {
    const button = el('button', { type: 'button', class: 'profile-button', 'aria-haspopup': 'dialog' });
    const list = el('ul', { class: 'profile-list' });
    const status = el('p', { class: 'status error', role: 'alert' });
    const input = el('input', {
        id: 'profile-name', name: 'profile', maxlength: String(MAX_NAME_CHARS * 2), autocomplete: 'off', required: true,
    });
    const form = el('form', { class: 'profile-new' },
        el('label', { for: 'profile-name' }, t('newProfile')), input,
        el('button', { type: 'submit' }, t('makeProfile')));
    const dialog = el('dialog', { class: 'profiles', 'aria-labelledby': 'profiles-title' },
        el('h2', { id: 'profiles-title' }, t('profilesTitle')), list, form, status,
        el('div', { class: 'buttons' },
            el('button', { type: 'button', class: 'close', onclick: () => dialog.close() }, t('close'))));
    holder.replaceChildren(button, dialog);

    const showName = () => {
        button.textContent = t('profileNow', currentProfile());
    };
    const switchTo = (name) => {
        chooseProfile(name);
        showName();
        dialog.close();
        changed();
    };
    const entry = (name) => {
        const current = name === currentProfile();
        const use = el('button', {
            type: 'button', class: 'use', 'aria-current': current ? 'true' : null, 'aria-label': t('profileUse', name),
            onclick: () => switchTo(name),
        }, name, current ? el('span', { class: 'current' }, ` (${t('profileCurrent')})`) : null);
        // Deleting drops where the profile stopped in every video: a second click says yes.
        const remove = el('button', { type: 'button', class: 'delete' }, t('deleteProfile', name));
        remove.addEventListener('click', async () => {
            if (!remove.classList.contains('confirm')) {
                remove.classList.add('confirm');
                remove.textContent = t('reallyDelete', name);
                return;
            }
            try {
                await deleteProfile(name);
            } catch (error) {
                status.textContent = refusalText(error);
                return;
            }
            if (current)
                switchTo(DEFAULT_PROFILE);
            else
                await fill();
        });
        return el('li', {}, use, remove);
    };
    const fill = async () => {
        let names = [];
        try {
            names = ((await listProfiles()).profiles || []).map((profile) => profile.name);
        } catch (error) {
            status.textContent = refusalText(error);
        }
        list.replaceChildren(...offeredNames(names, currentProfile()).map(entry));
    };

    button.addEventListener('click', async () => {
        status.textContent = '';
        input.value = '';
        dialog.showModal();
        await fill();
    });
    form.addEventListener('submit', async (event) => {
        event.preventDefault();
        const name = profileNameOf(input.value);
        if (!name) {
            status.textContent = t('profileNameBad');
            return;
        }
        try {
            await createProfile(name);
        } catch (error) {
            status.textContent = refusalText(error);
            return;
        }
        switchTo(name);
    });
    showName();
}
