#pragma once

// Starts thumbnail making for every shared folder in the background and returns at
// once (server start, a share added).
void QZ_StartShareThumbnails();

// True while the background kick-off is still collecting or waiting for the pool.
bool IsShareThumbnailKickOffRunning();
