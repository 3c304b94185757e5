#pragma once

class HostTargets;
class ObsWebSocketVendor;

// Registers the host methods the web application calls. The targets must
// outlive the vendor.
void registerHostHandlers(ObsWebSocketVendor &vendor, HostTargets &targets);
