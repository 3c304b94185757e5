#include "plugin/ModuleLifecycle.h"

#include "auth/AuthController.h"
#include "docks/DockSet.h"
#include "host/HostHandlers.h"
#include "host/ObsWebSocketDiscovery.h"
#include "host/ObsWebSocketVendor.h"
#include "host/VendorRequestGate.h"
#include "integration/VekRuntime.h"
#include "obs/FrontendApi.h"
#include "obs/Log.h"
#include "plugin/ModuleHostTargets.h"
#include "plugin/ModuleState.h"
#include "proxy/EventProxyServer.h"
#include "threading/WorkerThread.h"
#include "values/MetaTypes.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QThread>
#include <QTimer>

#include <obs-module.h>

namespace {

constexpr int kConfigRefreshDebounceMs = 150;

// The proxy reports where it listens: the pages that use it reload, and the
// pages learn the new address through a status event.
void onEventProxyStarted(quint16 port, const std::string &token)
{
	ModuleState &state = moduleState();
	state.eventProxyPort = port;
	state.eventProxyToken = QString::fromStdString(token);
	refreshEventProxyTabsOfAllDocks();
	emitStatusChanged();
}

// Vek rejected an account's token: the account is dropped, or, when it was
// gone already, everything is resynchronised.
void onIntegrationLoggedOut(const std::string &upid)
{
	ModuleState &state = moduleState();
	if (!state.authController->removeIntegration(QString::fromStdString(upid)))
		emitStatusChanged();
}

void publishStatusChanged()
{
	ModuleState &state = moduleState();
	if (state.vendor)
		state.vendor->emitEvent(QStringLiteral("zorva.statusChanged"),
					[] { return statusWithHostBootstrap(hostBootstrapSources()); });
}

void connectUiObjects(ModuleState &state)
{
	AuthController *context = state.authController.get();
	QObject::connect(state.refreshTimer.get(), &QTimer::timeout, context, &refreshHostState);
	QObject::connect(state.configWatcher.get(), &QFileSystemWatcher::fileChanged, context,
			 &onObsWebSocketConfigChanged);
	QObject::connect(state.configWatcher.get(), &QFileSystemWatcher::directoryChanged, context,
			 &onObsWebSocketConfigChanged);
}

void connectWorkerObjects(ModuleState &state)
{
	AuthController *context = state.authController.get();
	QThread *thread = state.workerThread.get();
	QObject::connect(thread, &QThread::finished, state.eventProxy, &QObject::deleteLater);
	QObject::connect(thread, &QThread::finished, state.vekRuntime, &QObject::deleteLater);
	QObject::connect(thread, &QThread::started, state.eventProxy, &EventProxyServer::start);
	QObject::connect(state.eventProxy, &EventProxyServer::vekRequest, state.vekRuntime,
			 &VekRuntime::handleProxyRequest);
	QObject::connect(state.eventProxy, &EventProxyServer::vekPassthrough, state.vekRuntime,
			 &VekRuntime::handleProxyPassthrough);
	QObject::connect(state.eventProxy, &EventProxyServer::started, context, &onEventProxyStarted);
	QObject::connect(context, &AuthController::statusChanged, context, &syncIntegrationsToRuntime);
	QObject::connect(context, &AuthController::statusChanged, context, &publishStatusChanged);
	QObject::connect(state.vekRuntime, &VekRuntime::integrationLoggedOut, context, &onIntegrationLoggedOut);
}

// A blocking call into the worker thread: the UI thread waits until it ran.
void invokeBlocking(QObject *object, const char *slot)
{
	QMetaObject::invokeMethod(object, slot, Qt::BlockingQueuedConnection);
}

} // namespace

HostBootstrapSources hostBootstrapSources()
{
	const ModuleState &state = moduleState();
	return {state.authController.get(), state.obsWebSocketDiscovery.get(), state.eventProxyPort,
		state.eventProxyToken};
}

void addQtPluginSearchPath()
{
	char *file = obs_find_module_file(moduleState().currentModule, "tls");
	if (!file)
		return;
	QDir dir(QString::fromUtf8(file));
	bfree(file);
	if (!dir.cdUp())
		return;
	const QString path = dir.absolutePath();
	if (QCoreApplication::libraryPaths().contains(path, Qt::CaseSensitive))
		return;
	QCoreApplication::addLibraryPath(path);
	logInfo("Added Qt plugin search path: %s", path.toUtf8().constData());
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
	if (QTimer *timer = moduleState().refreshTimer.get())
		timer->start();
	else
		refreshHostState();
}

void refreshHostState()
{
	refreshHostTabsOfAllDocks();
	emitStatusChanged();
}

void emitStatusChanged()
{
	if (AuthController *controller = moduleState().authController.get())
		Q_EMIT controller->statusChanged();
}

void syncIntegrationsToRuntime()
{
	ModuleState &state = moduleState();
	if (!state.vekRuntime || !state.authController)
		return;
	QMetaObject::invokeMethod(state.vekRuntime, "syncIntegrations", Qt::QueuedConnection,
				  Q_ARG(QJsonArray, state.authController->integrationSnapshot()));
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
		destroyDocks();
		break;
	case OBS_FRONTEND_EVENT_FINISHED_LOADING:
		state.finishedLoading = true;
		positionZorvaDockOnFirstLoad();
		scheduleDockTitleRefresh();
		break;
	default:
		break;
	}
}

void loadModule()
{
	ModuleState &state = moduleState();
	state.exitSeen = false;
	state.finishedLoading = false;
	VendorRequestGate::instance().open();

	registerModuleMetaTypes();
	addQtPluginSearchPath();

	state.authController = std::make_unique<AuthController>();
	state.vendor = std::make_unique<ObsWebSocketVendor>("vorn-zorva");
	state.obsWebSocketDiscovery = std::make_unique<ObsWebSocketDiscovery>();
	state.configWatcher = std::make_unique<QFileSystemWatcher>();
	state.refreshTimer = std::make_unique<QTimer>();
	state.refreshTimer->setSingleShot(true);
	state.refreshTimer->setInterval(kConfigRefreshDebounceMs);
	connectUiObjects(state);
	armConfigWatcher();
	static ModuleHostTargets hostTargets;
	registerHostHandlers(*state.vendor, hostTargets);
	obs_frontend_add_event_callback(&frontendEventCallback, nullptr);

	state.workerThread = std::make_unique<WorkerThread>();
	state.workerThread->setObjectName(QStringLiteral("zorva-worker"));
	state.eventProxy = new EventProxyServer();
	state.vekRuntime = new VekRuntime();
	state.eventProxy->moveToThread(state.workerThread.get());
	state.vekRuntime->moveToThread(state.workerThread.get());
	connectWorkerObjects(state);
	state.vekRuntime->setEventProxy(state.eventProxy);
	state.workerThread->start(QThread::InheritPriority);
	syncIntegrationsToRuntime();
}

void postLoadModule()
{
	ModuleState &state = moduleState();
	if (state.vendor)
		state.vendor->registerVendor();
	initializeDock();
}

void unloadModule()
{
	ModuleState &state = moduleState();
	// Releases every host request still waiting before anything it could
	// reach is deleted.
	VendorRequestGate::instance().close();
	if (!state.exitSeen)
		obs_frontend_remove_event_callback(&frontendEventCallback, nullptr);
	destroyDocks();

	if (state.eventProxy)
		invokeBlocking(state.eventProxy, "stop");
	if (state.vekRuntime)
		invokeBlocking(state.vekRuntime, "stop");
	// Its end in full, exit-time destructors included: OBS may exit right
	// after this returns.
	if (state.workerThread && !state.workerThread->quitAndJoin())
		logWarning("Worker thread still ending after unload.");
	state.vekRuntime = nullptr;
	state.eventProxy = nullptr;
	state.workerThread.reset();
	// The proxy is gone: a later load starts without an address until its own
	// proxy reports one.
	state.eventProxyPort = 0;
	state.eventProxyToken.clear();

	if (state.vendor) {
		state.vendor->forgetRegistration();
		state.vendor.reset();
	}
	state.refreshTimer.reset();
	state.configWatcher.reset();
	state.obsWebSocketDiscovery.reset();
	state.authController.reset();
}
