#include "config/server_parts.h"

#include <cstdlib>

ServerParts MakeServerParts(const std::string& dataFolder)
{
    ServerParts parts;
    parts.places = ResolvePlaces(dataFolder);
    parts.settings = std::make_shared<SettingsStore>(parts.places.dataFolder);
    parts.clock = std::make_shared<SteadyClock>();
    parts.spawner = MakePosixSpawner();
    if (const char* command = std::getenv("VEMBACAST_SHUTDOWN_COMMAND"); command && *command)
        parts.shutdownCommand = command;
    return parts;
}
