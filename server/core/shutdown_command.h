#pragma once

// Shutting the computer down for a client's "serverOff": runs the server's shutdown
// command (VEMBACAST_SHUTDOWN_COMMAND at start-up, default "systemctl poweroff")
// through /bin/sh and waits for it. False when it could not run or failed (not
// permitted).

#include <string>

bool RunShutdownCommand(const std::string& command);
