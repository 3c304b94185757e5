#pragma once

#include <memory>

#include <QString>
#include <QtGlobal>

#include <obs-module.h>

class AuthController;
class EventProxyServer;
class ObsWebSocketDiscovery;
class ObsWebSocketVendor;
class QFileSystemWatcher;
class QTimer;
class VekRuntime;
class WorkerThread;

// The module-wide objects and values, created at load and destroyed at unload
// in a fixed order. Touched on the UI thread only, except the two objects that
// live on the worker thread.
struct ModuleState {
	obs_module_t *currentModule = nullptr;
	lookup_t *localeLookup = nullptr;

	std::unique_ptr<AuthController> authController;
	std::unique_ptr<ObsWebSocketVendor> vendor;
	std::unique_ptr<ObsWebSocketDiscovery> obsWebSocketDiscovery;
	std::unique_ptr<QFileSystemWatcher> configWatcher;
	std::unique_ptr<QTimer> refreshTimer;
	std::unique_ptr<WorkerThread> workerThread;
	// Deleted on the worker thread when it finishes; only nulled at unload.
	EventProxyServer *eventProxy = nullptr;
	VekRuntime *vekRuntime = nullptr;

	quint16 eventProxyPort = 0;
	QString eventProxyToken;
	bool exitSeen = false;
	bool finishedLoading = false;
};

ModuleState &moduleState();
