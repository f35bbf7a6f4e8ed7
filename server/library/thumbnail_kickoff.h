#pragma once

// Starts thumbnail making for every shared folder in the background and returns at
// once (server start, a share added).
void QZ_StartShareThumbnails();

// True while the background kick-off is still collecting or waiting for the pool.
bool IsShareThumbnailKickOffRunning();

// Joins the background kick-off once it has finished (shutdown); false while it
// still runs, in which case it is left to end on its own.
bool ReapShareThumbnailKickOff();
