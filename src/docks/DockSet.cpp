#include "docks/DockSet.h"

#include "docks/BrowserPanel.h"
#include "docks/ZorvaDock.h"
#include "host/ObsWebSocketDiscovery.h"
#include "obs/FrontendApi.h"
#include "obs/Log.h"
#include "plugin/ModuleState.h"

#include <array>
#include <memory>

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QDockWidget>
#include <QEvent>
#include <QFileInfo>
#include <QMainWindow>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <obs-module.h>
#include <util/platform.h>

namespace {

struct DockRow {
	const char *id;
	const char *title;
	const char *tabTitle;
	DockKind kind;
	bool tabifyOnFirstPlacement;
};

// Order of creation, registration, title handling and removal.
const std::array<DockRow, 4> kDockTable = {{
	{"vorn-zorva-dock", "Vorn - Zorva", "Vorn - Zorva", DockKind::Main, true},
	{"vorn-zorva-chat-dock", "Vorn - Chat", "Vorn - Chat", DockKind::Chat, true},
	{"vorn-zorva-integrations-dock", "Vorn - Accounts", "Vorn - Accounts", DockKind::Accounts, true},
	{"vorn-zorva-stream-manager-dock", "Vorn - Stream Manager", "Vorn - Stream Manager", DockKind::StreamManager,
	 true},
}};

constexpr int kDockWidth = 450;
constexpr int kPlacementRetries = 40;
constexpr int kPlacementRetryDelayMs = 50;
constexpr std::array<int, 3> kPlacementFollowUpsMs = {150, 500, 1200};
constexpr std::array<int, 4> kTitleRefreshDelaysMs = {0, 100, 500, 1000};

std::unique_ptr<QCef> panelHost;
std::array<ZorvaDock *, 4> dockRegistry = {};
std::shared_ptr<ZorvaDock::UrlState> sharedUrlState;
bool docksDestroyed = false;

QMainWindow *mainWindow()
{
	return static_cast<QMainWindow *>(obs_frontend_get_main_window());
}

QDockWidget *findDock(QMainWindow *window, const char *id)
{
	return window->findChild<QDockWidget *>(QString::fromUtf8(id), Qt::FindChildrenRecursively);
}

QString dockUiStatePath()
{
	char *path = obs_module_get_config_path(moduleState().currentModule, "zorva-ui.json");
	if (!path)
		return {};
	QString result = QString::fromUtf8(path);
	bfree(path);
	return result;
}

bool needsFirstDockPlacement()
{
	const QString path = dockUiStatePath();
	if (path.isEmpty())
		return true;
	obs_data_t *data = obs_data_create_from_json_file_safe(path.toUtf8().constData(), "bak");
	if (!data)
		return true;
	const bool placed = obs_data_get_bool(data, "dockPlaced");
	obs_data_release(data);
	return !placed;
}

void markDockPlaced()
{
	const QString path = dockUiStatePath();
	if (path.isEmpty())
		return;
	QDir().mkpath(QFileInfo(path).absolutePath());
	obs_data_t *data = obs_data_create();
	obs_data_set_bool(data, "dockPlaced", true);
	obs_data_save_json_safe(data, path.toUtf8().constData(), "tmp", "bak");
	obs_data_release(data);
}

QCef *resolvePanelHost()
{
	obs_module_t *browser = obs_get_module("obs-browser");
	void *library = browser ? obs_get_module_lib(browser) : nullptr;
	auto factory = library ? reinterpret_cast<QCefFactory>(os_dlsym(library, "obs_browser_create_qcef")) : nullptr;
	return factory ? factory() : nullptr;
}

void applyDockTitles()
{
	QMainWindow *window = mainWindow();
	if (!window)
		return;
	for (const DockRow &row : kDockTable) {
		QDockWidget *dock = findDock(window, row.id);
		if (!dock)
			continue;
		const bool tabbed = !window->tabifiedDockWidgets(dock).isEmpty();
		const QString wanted = QString::fromUtf8(tabbed ? row.tabTitle : row.title);
		if (dock->windowTitle() != wanted)
			dock->setWindowTitle(wanted);
		QAction *toggle = dock->toggleViewAction();
		const QString title = QString::fromUtf8(row.title);
		if (toggle && toggle->text() != title)
			toggle->setText(title);
	}
}

void hookDockTabTitles()
{
	QMainWindow *window = mainWindow();
	if (!window)
		return;
	static const char *const kHookedProperty = "vornZorvaTabTitleHooked";
	for (const DockRow &row : kDockTable) {
		QDockWidget *dock = findDock(window, row.id);
		if (!dock || dock->property(kHookedProperty).toBool())
			continue;
		dock->setProperty(kHookedProperty, true);
		QObject::connect(dock, &QDockWidget::topLevelChanged, dock, [] { scheduleDockTitleRefresh(); });
		QObject::connect(dock, &QDockWidget::dockLocationChanged, dock, [] { scheduleDockTitleRefresh(); });
		QObject::connect(dock, &QDockWidget::visibilityChanged, dock, [] { scheduleDockTitleRefresh(); });
	}
}

void attachDock(QMainWindow *window, QDockWidget *dock)
{
	window->addDockWidget(Qt::RightDockWidgetArea, dock);
	if (QAction *toggle = dock->toggleViewAction()) {
		if (toggle->isChecked())
			toggle->setChecked(true);
		else
			toggle->activate(QAction::Trigger);
	}
	dock->setFloating(false);
	dock->show();
	dock->setVisible(true);
}

// One placement run per positionZorvaDockOnFirstLoad call, shared by the
// timers that re-post it; the routine keeps itself alive through them.
struct PlacementRun : std::enable_shared_from_this<PlacementRun> {
	int attempts = 0;
	bool followUpsScheduled = false;

	void post(int delayMs)
	{
		QMainWindow *window = mainWindow();
		if (!window)
			return;
		QTimer::singleShot(delayMs, window, [self = shared_from_this()] { self->run(); });
	}

	void run()
	{
		QMainWindow *window = mainWindow();
		if (!window)
			return;
		QDockWidget *mainDock = findDock(window, kDockTable[0].id);
		bool complete = mainDock != nullptr;
		for (size_t i = 1; i < kDockTable.size(); ++i) {
			if (kDockTable[i].tabifyOnFirstPlacement && !findDock(window, kDockTable[i].id))
				complete = false;
		}
		if (!complete) {
			if (attempts++ < kPlacementRetries)
				post(kPlacementRetryDelayMs);
			return;
		}

		mainDock->setMinimumWidth(kDockWidth);
		mainDock->resize(kDockWidth, window->height());
		attachDock(window, mainDock);
		for (size_t i = 1; i < kDockTable.size(); ++i) {
			if (!kDockTable[i].tabifyOnFirstPlacement)
				continue;
			QDockWidget *dock = findDock(window, kDockTable[i].id);
			dock->setMinimumWidth(kDockWidth);
			attachDock(window, dock);
			window->tabifyDockWidget(mainDock, dock);
		}
		mainDock->showNormal();
		mainDock->raise();
		window->resizeDocks({mainDock}, {kDockWidth}, Qt::Horizontal);
		markDockPlaced();
		scheduleDockTitleRefresh();

		if (!followUpsScheduled) {
			followUpsScheduled = true;
			for (int delay : kPlacementFollowUpsMs)
				post(delay);
		}
	}
};

// Removes only the docks this module registered: after a refused
// registration the refused id may belong to another plugin's dock.
void removeRegisteredDocks()
{
	for (size_t i = 0; i < kDockTable.size(); ++i) {
		if (!dockRegistry[i])
			continue;
		obs_frontend_remove_dock(kDockTable[i].id);
		QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
	}
}

} // namespace

void initializeDock()
{
	for (ZorvaDock *dock : dockRegistry) {
		if (dock)
			return;
	}

	panelHost.reset(resolvePanelHost());
	if (!panelHost) {
		logError("OBS browser panel host is unavailable.");
		return;
	}
	if (!panelHost->initialized())
		panelHost->init_browser();

	sharedUrlState = std::make_shared<ZorvaDock::UrlState>();
	docksDestroyed = false;

	ModuleState &state = moduleState();
	auto eventProxyUrlProvider = [] {
		return eventProxyUrl(moduleState().eventProxyPort, moduleState().eventProxyToken);
	};
	auto bootstrapProvider = [] {
		const ObsWebSocketDiscovery *discovery = moduleState().obsWebSocketDiscovery.get();
		return discovery ? discovery->discover() : ObsWebSocketBootstrap();
	};

	for (size_t i = 0; i < kDockTable.size(); ++i) {
		const DockRow &row = kDockTable[i];
		auto *dock = new ZorvaDock(row.kind, panelHost.get(), state.authController.get(), sharedUrlState,
					   eventProxyUrlProvider, bootstrapProvider, nullptr);
		if (!obs_frontend_add_dock_by_id(row.id, row.title, dock)) {
			logError("Failed to add dock '%s'.", row.id);
			delete dock;
			destroyDocks();
			panelHost.reset();
			return;
		}
		dockRegistry[i] = dock;
	}

	hookDockTabTitles();
	if (state.finishedLoading) {
		positionZorvaDockOnFirstLoad();
		scheduleDockTitleRefresh();
	}
	logInfo("Loaded docks.");
}

void destroyDocks()
{
	// The docks and their panels belong to the UI thread: the whole removal
	// runs there, the caller waiting.
	QCoreApplication *app = QCoreApplication::instance();
	if (app && QThread::currentThread() != app->thread()) {
		QMetaObject::invokeMethod(app, &destroyDocks, Qt::BlockingQueuedConnection);
		return;
	}
	if (docksDestroyed)
		return;
	docksDestroyed = true;

	for (ZorvaDock *dock : dockRegistry) {
		if (dock)
			dock->shutdownPanels();
	}
	removeRegisteredDocks();

	dockRegistry.fill(nullptr);
	sharedUrlState.reset();
	panelHost.reset();
}

void positionZorvaDockOnFirstLoad()
{
	if (!needsFirstDockPlacement() || !mainWindow())
		return;
	std::make_shared<PlacementRun>()->post(0);
}

void scheduleDockTitleRefresh()
{
	QMainWindow *window = mainWindow();
	if (!window)
		return;
	for (int delay : kTitleRefreshDelaysMs)
		QTimer::singleShot(delay, window, &applyDockTitles);
}

void refreshHostTabsOfAllDocks()
{
	for (ZorvaDock *dock : dockRegistry) {
		if (dock)
			QMetaObject::invokeMethod(dock, "refreshHostTabs", Qt::QueuedConnection);
	}
}

void refreshEventProxyTabsOfAllDocks()
{
	for (ZorvaDock *dock : dockRegistry) {
		if (dock)
			QMetaObject::invokeMethod(dock, "refreshEventProxyTabs", Qt::QueuedConnection);
	}
}
