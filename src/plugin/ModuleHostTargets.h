#pragma once

#include "host/HostBootstrap.h"
#include "host/HostTargets.h"

#include <functional>
#include <memory>

class AuthController;
class EventProxyServer;

// What the loaded module's host targets act on: the account controller, the
// event proxy on the worker thread, and the module's state through the two
// functions it hands in. The module destroys the targets before either of
// the two objects they point to.
struct HostTargetCollaborators {
	AuthController &authController;
	EventProxyServer *eventProxy = nullptr; // lives on the worker thread
	std::function<HostBootstrapSources()> bootstrapSources;
	std::function<void()> refreshHostState;
};

// The host methods' targets as the loaded module has them. The class stays
// in the source file, so a method that forwards to the controller is written
// once, there.
std::unique_ptr<HostTargets> makeModuleHostTargets(HostTargetCollaborators collaborators);
