#pragma once

// The core's hooks into the shared folder list and the client sessions: folders of
// the folder list file become shares, engine notices reach their sessions, and
// server stop and program exit release the sessions (stopping their engines).

struct CoreHooks;

void AddSessionHooks(CoreHooks& hooks);
