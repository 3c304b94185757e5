#pragma once

#include <memory>

#include <QString>
#include <QtGlobal>

#include <obs-module.h>

class AuthController;
class DockSet;
class ObsWebSocketDiscovery;
class ObsWebSocketVendor;
class QFileSystemWatcher;
class RefreshDebounce;
class WorkerObjects;

// The module-wide objects and values, created at load and destroyed at unload
// in a fixed order. Touched on the UI thread only; the worker objects' proxy
// and runtime live on the worker thread.
struct ModuleState {
	obs_module_t *currentModule = nullptr;
	lookup_t *localeLookup = nullptr;

	std::unique_ptr<AuthController> authController;
	std::unique_ptr<ObsWebSocketVendor> vendor;
	std::unique_ptr<ObsWebSocketDiscovery> obsWebSocketDiscovery;
	std::unique_ptr<QFileSystemWatcher> configWatcher;
	std::unique_ptr<RefreshDebounce> refreshDebounce;
	std::unique_ptr<WorkerObjects> workerObjects;
	std::unique_ptr<DockSet> dockSet;

	// Set by a load that went through: the host could run the module. Post-load
	// and unload do nothing without it (libobs calls both after a failed load).
	bool loaded = false;
	quint16 eventProxyPort = 0;
	QString eventProxyToken;
	bool exitSeen = false;
	bool finishedLoading = false;
};

ModuleState &moduleState();
