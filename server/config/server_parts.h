#pragma once

// What a server is made from. The daemon and the desktop application resolve these
// once at start-up and hand them to the server object; nothing inside the server
// reaches past them to the environment, the real clock or the process table, so a
// test can run a server on a clock, a spawner and a data folder of its own, and two
// servers can run side by side in one process.

#include "config/settings_store.h"
#include "platform/clock.h"
#include "platform/places.h"
#include "platform/process.h"

#include <memory>
#include <string>

struct ServerParts {
    ServerPlaces places;
    std::shared_ptr<SettingsStore> settings; // over places.dataFolder
    std::shared_ptr<Clock> clock;
    std::shared_ptr<ProcessSpawner> spawner; // engines and helper programs
    // Run when a client from the home network powers the computer off.
    std::string shutdownCommand = "systemctl poweroff";
};

// The parts of a server on this machine: the places for dataFolder (empty: the
// default data folder), the real clock and spawner, and the shutdown command from
// VEMBACAST_SHUTDOWN_COMMAND when it is set. Reads the environment: start-up only.
ServerParts MakeServerParts(const std::string& dataFolder = std::string());
