#pragma once

#include "host/HostBootstrap.h"

#include <functional>

class AuthController;
class EventProxyServer;
class ObsWebSocketVendor;

// What the host methods act on: the account controller, the event proxy on
// the worker thread (without one, the methods that need it answer that it is
// not available) and the module's state through the two functions it hands
// in. The controller and the proxy must outlive the vendor's handlers.
struct HostTargets {
	AuthController &authController;
	EventProxyServer *eventProxy = nullptr;
	std::function<HostBootstrapSources()> bootstrapSources;
	std::function<void()> refreshHostState;
};

// Registers the host methods the web application calls.
void registerHostHandlers(ObsWebSocketVendor &vendor, HostTargets targets);
