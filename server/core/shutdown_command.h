#pragma once

// Shutting the computer down for a client's "serverOff": runs the command in
// VEMBACAST_SHUTDOWN_COMMAND (default "systemctl poweroff") through /bin/sh and
// waits for it. False when it could not run or failed (not permitted).

bool RunShutdownCommand();
