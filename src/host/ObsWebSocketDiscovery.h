#pragma once

#include "host/HostBootstrap.h"

#include <QString>

// Path of obs-websocket's configuration file, or empty.
QString obsWebSocketConfigPath();

// Reads obs-websocket's configuration and checks that its server answers.
// Holds no state: every call reads the file and probes anew.
class ObsWebSocketDiscovery {
public:
	ObsWebSocketBootstrap discover() const;
};
