#include "plugin/ModuleLifecycle.h"

#include "auth/AuthController.h"
#include "docks/DockSet.h"
#include "host/HostHandlers.h"
#include "host/ObsWebSocketDiscovery.h"
#include "host/ObsWebSocketNames.h"
#include "host/ObsWebSocketVendor.h"
#include "host/RefreshDebounce.h"
#include "host/VendorRequestGate.h"
#include "integration/VekRuntime.h"
#include "obs/FrontendApi.h"
#include "obs/Log.h"
#include "obs/ObsString.h"
#include "plugin/ModuleState.h"
#include "threading/ThreadCalls.h"
#include "values/MetaTypes.h"
#include "worker/WorkerObjects.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>

#include <obs-module.h>

namespace {

QString moduleConfigPath(const char *file)
{
	return takeObsString(obs_module_get_config_path(moduleState().currentModule, file));
}

// The module's current state as the host bootstrap sees it.
HostBootstrapSources hostBootstrapSources()
{
	const ModuleState &state = moduleState();
	return {state.authController.get(), state.obsWebSocketDiscovery.get(), state.eventProxyPort,
		state.eventProxyToken};
}

void emitStatusChanged()
{
	if (AuthController *controller = moduleState().authController.get())
		Q_EMIT controller->statusChanged();
}

void refreshHostState()
{
	if (DockSet *docks = moduleState().dockSet.get())
		docks->refreshHostTabsOfAllDocks();
	emitStatusChanged();
}

void syncIntegrationsToRuntime()
{
	ModuleState &state = moduleState();
	if (!state.workerObjects || !state.authController)
		return;
	VekRuntime *runtime = state.workerObjects->vekRuntime();
	[[maybe_unused]] const bool queued =
		postTo(runtime, [runtime, snapshot = state.authController->integrationSnapshot()] {
			runtime->syncIntegrations(snapshot);
		});
	Q_ASSERT(queued);
}

// The proxy reports where it listens: the pages that use it reload, and the
// pages learn the new address through a status event.
void onEventProxyStarted(quint16 port, const std::string &token)
{
	ModuleState &state = moduleState();
	state.eventProxyPort = port;
	state.eventProxyToken = QString::fromStdString(token);
	if (state.dockSet)
		state.dockSet->refreshEventProxyTabsOfAllDocks();
	emitStatusChanged();
}

// Vek rejected an account's token: the account is dropped, or, when it was
// gone already or linked anew with another token, everything is
// resynchronised.
void onIntegrationLoggedOut(const std::string &upid, const std::string &rejectedToken)
{
	ModuleState &state = moduleState();
	if (!state.authController->removeIntegration(QString::fromStdString(upid),
						     QString::fromStdString(rejectedToken)))
		emitStatusChanged();
}

void publishStatusChanged()
{
	ModuleState &state = moduleState();
	if (state.vendor)
		state.vendor->emitEvent(QStringLiteral("zorva.statusChanged"),
					[] { return statusWithHostBootstrap(hostBootstrapSources()); });
}

void armConfigWatcher()
{
	ModuleState &state = moduleState();
	if (!state.configWatcher || !state.obsWebSocketDiscovery)
		return;
	const QString file = obsWebSocketConfigPath();
	if (file.isEmpty())
		return;
	QFileSystemWatcher &watcher = *state.configWatcher;
	const QString directory = QFileInfo(file).absolutePath();
	if (!directory.isEmpty() && !watcher.directories().contains(directory, Qt::CaseSensitive))
		watcher.addPath(directory);
	if (!watcher.files().contains(file, Qt::CaseSensitive) && QFileInfo::exists(file))
		watcher.addPath(file);
}

void onObsWebSocketConfigChanged()
{
	armConfigWatcher();
	if (RefreshDebounce *debounce = moduleState().refreshDebounce.get())
		debounce->notice();
	else
		refreshHostState();
}

void addQtPluginSearchPath()
{
	const QString file = takeObsString(obs_find_module_file(moduleState().currentModule, "tls"));
	if (file.isEmpty())
		return;
	QDir dir(file);
	if (!dir.cdUp())
		return;
	const QString path = dir.absolutePath();
	if (QCoreApplication::libraryPaths().contains(path, Qt::CaseSensitive))
		return;
	QCoreApplication::addLibraryPath(path);
	logInfo("Added Qt plugin search path: %s", path.toUtf8().constData());
}

void frontendEventCallback(enum obs_frontend_event event, void *)
{
	ModuleState &state = moduleState();
	switch (event) {
	case OBS_FRONTEND_EVENT_EXIT:
		state.exitSeen = true;
		// OBS's main loop stops after this event: host requests are refused
		// from now on rather than left waiting for it.
		VendorRequestGate::instance().close();
		if (state.dockSet)
			state.dockSet->destroyDocks();
		break;
	case OBS_FRONTEND_EVENT_FINISHED_LOADING:
		state.finishedLoading = true;
		if (state.dockSet) {
			state.dockSet->positionZorvaDockOnFirstLoad();
			DockSet::scheduleDockTitleRefresh();
		}
		break;
	default:
		break;
	}
}

void createUiObjects(ModuleState &state)
{
	AuthController::Options authOptions;
	authOptions.stateFilePath = moduleConfigPath("zorva-auth.json");
	state.authController = std::make_unique<AuthController>(std::move(authOptions));
	state.vendor = std::make_unique<ObsWebSocketVendor>(ObsWebSocketNames::vendorName);
	state.obsWebSocketDiscovery = std::make_unique<ObsWebSocketDiscovery>();
	state.configWatcher = std::make_unique<QFileSystemWatcher>();
	state.refreshDebounce = std::make_unique<RefreshDebounce>(&refreshHostState);

	AuthController *context = state.authController.get();
	QObject::connect(state.configWatcher.get(), &QFileSystemWatcher::fileChanged, context,
			 &onObsWebSocketConfigChanged);
	QObject::connect(state.configWatcher.get(), &QFileSystemWatcher::directoryChanged, context,
			 &onObsWebSocketConfigChanged);
	QObject::connect(context, &AuthController::statusChanged, context, &syncIntegrationsToRuntime);
	QObject::connect(context, &AuthController::statusChanged, context, &publishStatusChanged);
}

// The worker side's reports reach the module on the UI thread.
void createWorkerObjects(ModuleState &state)
{
	state.workerObjects = std::make_unique<WorkerObjects>();
	AuthController *context = state.authController.get();
	QObject::connect(state.workerObjects->eventProxy(), &EventProxyServer::started, context, &onEventProxyStarted);
	QObject::connect(state.workerObjects->vekRuntime(), &VekRuntime::integrationLoggedOut, context,
			 &onIntegrationLoggedOut);
}

void registerHostMethods(ModuleState &state)
{
	registerHostHandlers(*state.vendor, HostTargets{*state.authController, state.workerObjects->eventProxy(),
							&hostBootstrapSources, &refreshHostState});
}

std::unique_ptr<DockSet> createDockSet(const ModuleState &state)
{
	DockSet::Sources sources;
	sources.authController = state.authController.get();
	sources.eventProxyUrl = [] {
		return eventProxyUrl(moduleState().eventProxyPort, moduleState().eventProxyToken);
	};
	sources.obsWebSocketBootstrap = [] {
		const ObsWebSocketDiscovery *discovery = moduleState().obsWebSocketDiscovery.get();
		return discovery ? discovery->discover() : ObsWebSocketBootstrap();
	};
	sources.uiStatePath = moduleConfigPath("zorva-ui.json");
	sources.panelHostLibrary = PanelHostLibrary::besideModule(
		QString::fromUtf8(obs_get_module_binary_path(moduleState().currentModule)));
	// Cookies and local storage of the docks' pages, so that a sign-in inside
	// a dock survives a restart.
	sources.panelProfilePath = moduleConfigPath("browser-profile");
	return std::make_unique<DockSet>(std::move(sources));
}

// The docks, their timers and the front-end calls are Qt 6 widgets and
// objects that live in OBS's Qt 6 application. A process without one, such as
// an OBS built with Qt 5 (whose objects this module cannot touch) or a libobs
// host without a front end, gets nothing of the module: before anything is
// made, and before any front-end call, the load stops here.
bool hostHasQt6Application()
{
	if (qobject_cast<QApplication *>(QCoreApplication::instance()))
		return true;
	logError("Not loading: the module needs OBS Studio 30 or later with its Qt 6 user interface, and this "
		 "process has no Qt 6 application (an OBS built with Qt 5, or a host without the OBS front end).");
	return false;
}

} // namespace

bool loadModule()
{
	if (!hostHasQt6Application())
		return false;
	ModuleState &state = moduleState();
	state.loaded = true;
	state.exitSeen = false;
	state.finishedLoading = false;
	VendorRequestGate::instance().open();

	registerModuleMetaTypes();
	addQtPluginSearchPath();

	createUiObjects(state);
	armConfigWatcher();
	createWorkerObjects(state);
	registerHostMethods(state);
	state.dockSet = createDockSet(state);
	obs_frontend_add_event_callback(&frontendEventCallback, nullptr);

	state.workerObjects->start();
	syncIntegrationsToRuntime();
	return true;
}

void postLoadModule()
{
	ModuleState &state = moduleState();
	if (!state.loaded)
		return;
	if (state.vendor)
		state.vendor->registerVendor();
	if (state.dockSet)
		state.dockSet->initializeDock(state.finishedLoading);
}

void unloadModule()
{
	ModuleState &state = moduleState();
	if (!state.loaded)
		return;
	state.loaded = false;
	// Releases every host request still waiting before anything it could
	// reach is deleted.
	VendorRequestGate::instance().close();
	if (!state.exitSeen)
		obs_frontend_remove_event_callback(&frontendEventCallback, nullptr);
	state.dockSet.reset();

	if (state.workerObjects && !state.workerObjects->stop())
		logWarning("Worker thread still ending after unload.");
	// The proxy is gone: a later load starts without an address until its own
	// proxy reports one.
	state.eventProxyPort = 0;
	state.eventProxyToken.clear();

	if (state.vendor) {
		state.vendor->forgetRegistration();
		state.vendor.reset();
	}
	state.workerObjects.reset();
	state.refreshDebounce.reset();
	state.configWatcher.reset();
	state.obsWebSocketDiscovery.reset();
	state.authController.reset();
}
