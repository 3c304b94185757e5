#pragma once

// The names under which the module meets obs-websocket, and where
// obs-websocket keeps its settings. The module, the stand-ins, the tests and
// the benchmarks all take them from here.
namespace ObsWebSocketNames {

// The vendor the module registers, and the one request type it serves.
inline constexpr char vendorName[] = "vorn-zorva";
inline constexpr char requestType[] = "agentTools";
// The type of every vendor event the module emits.
inline constexpr char eventType[] = "message";

// obs-websocket's settings file, below the user's configuration folder.
inline constexpr char configRelativePath[] = "obs-studio/plugin_config/obs-websocket/config.json";

} // namespace ObsWebSocketNames
