#pragma once

class ObsWebSocketVendor;

// Registers the host methods the web application calls.
void registerHostHandlers(ObsWebSocketVendor &vendor);
