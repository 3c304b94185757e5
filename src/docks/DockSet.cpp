#include "docks/DockSet.h"

#include "docks/BrowserPanel.h"
#include "docks/ZorvaDock.h"
#include "obs/FrontendApi.h"
#include "obs/Log.h"
#include "threading/ThreadCalls.h"

#include <array>
#include <chrono>
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
#include <obs-nix-platform.h>
#include <obs.hpp>
#include <util/platform.h>

namespace {

using namespace std::chrono_literals;

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
constexpr auto kPlacementRetryDelay = 50ms;
constexpr std::array<std::chrono::milliseconds, 3> kPlacementFollowUps = {150ms, 500ms, 1200ms};
constexpr std::array<std::chrono::milliseconds, 4> kTitleRefreshDelays = {0ms, 100ms, 500ms, 1000ms};

QMainWindow *mainWindow()
{
	return static_cast<QMainWindow *>(obs_frontend_get_main_window());
}

QDockWidget *findDock(QMainWindow *window, const char *id)
{
	return window->findChild<QDockWidget *>(QString::fromUtf8(id), Qt::FindChildrenRecursively);
}

bool needsFirstDockPlacement(const QString &uiStatePath)
{
	if (uiStatePath.isEmpty())
		return true;
	const OBSDataAutoRelease data = obs_data_create_from_json_file_safe(uiStatePath.toUtf8().constData(), "bak");
	return !data || !obs_data_get_bool(data, "dockPlaced");
}

void markDockPlaced(const QString &uiStatePath)
{
	if (uiStatePath.isEmpty())
		return;
	QDir().mkpath(QFileInfo(uiStatePath).absolutePath());
	const OBSDataAutoRelease data = obs_data_create();
	obs_data_set_bool(data, "dockPlaced", true);
	obs_data_save_json_safe(data, uiStatePath.toUtf8().constData(), "tmp", "bak");
}

QCef *obsBrowserPanelHost()
{
	obs_module_t *browser = obs_get_module("obs-browser");
	void *library = browser ? obs_get_module_lib(browser) : nullptr;
	auto factory = library ? reinterpret_cast<QCefFactory>(os_dlsym(library, "obs_browser_create_qcef")) : nullptr;
	return factory ? factory() : nullptr;
}

// OBS turns obs-browser's panels off when it runs as a native Wayland client.
bool nativeWayland()
{
	return obs_get_nix_platform() == OBS_NIX_PLATFORM_WAYLAND;
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
		QObject::connect(dock, &QDockWidget::topLevelChanged, dock, &DockSet::scheduleDockTitleRefresh);
		QObject::connect(dock, &QDockWidget::dockLocationChanged, dock, &DockSet::scheduleDockTitleRefresh);
		QObject::connect(dock, &QDockWidget::visibilityChanged, dock, &DockSet::scheduleDockTitleRefresh);
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
	explicit PlacementRun(QString statePath) : uiStatePath(std::move(statePath)) {}

	QString uiStatePath;
	int attempts = 0;
	bool followUpsScheduled = false;

	void post(std::chrono::milliseconds delay)
	{
		QMainWindow *window = mainWindow();
		if (!window)
			return;
		QTimer::singleShot(delay, window, [self = shared_from_this()] { self->run(); });
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
				post(kPlacementRetryDelay);
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
		markDockPlaced(uiStatePath);
		DockSet::scheduleDockTitleRefresh();

		if (!followUpsScheduled) {
			followUpsScheduled = true;
			for (std::chrono::milliseconds delay : kPlacementFollowUps)
				post(delay);
		}
	}
};

} // namespace

DockSet::DockSet(Sources docksSources) : sources(std::move(docksSources)), ownPanelHost(sources.panelHostLibrary) {}

DockSet::~DockSet()
{
	destroyDocks();
}

void DockSet::initializeDock(bool hostFinishedLoading)
{
	for (ZorvaDock *dock : docks) {
		if (dock)
			return;
	}

	panelHost.reset(resolvePanelHost());
	if (!panelHost)
		return;
	if (!panelHost->initialized())
		panelHost->init_browser();

	sharedUrlState = std::make_shared<ZorvaDock::UrlState>();
	docksDestroyed = false;

	for (size_t i = 0; i < kDockTable.size(); ++i) {
		const DockRow &row = kDockTable[i];
		auto *dock = new ZorvaDock(row.kind, panelHost.get(), sources.authController, sharedUrlState,
					   sources.eventProxyUrl, sources.obsWebSocketBootstrap, nullptr);
		if (!obs_frontend_add_dock_by_id(row.id, row.title, dock)) {
			logError("Failed to add dock '%s'.", row.id);
			delete dock;
			destroyDocks();
			panelHost.reset();
			return;
		}
		docks[i] = dock;
	}

	hookDockTabTitles();
	if (hostFinishedLoading) {
		positionZorvaDockOnFirstLoad();
		scheduleDockTitleRefresh();
	}
	logInfo("Loaded docks.");
}

void DockSet::destroyDocks()
{
	// The docks and their panels belong to the UI thread: the whole removal
	// runs there, the caller waiting.
	QCoreApplication *app = QCoreApplication::instance();
	if (app && QThread::currentThread() != app->thread()) {
		callOn(app, [this] { destroyDocks(); });
		return;
	}
	if (docksDestroyed)
		return;
	docksDestroyed = true;

	for (ZorvaDock *dock : docks) {
		if (dock)
			dock->shutdownPanels();
	}
	removeRegisteredDocks();

	docks.fill(nullptr);
	sharedUrlState.reset();
	panelHost.reset();
	if (ownPanelHostInUse)
		ownPanelHost.release();
	ownPanelHostInUse = false;
}

// obs-browser's panels where OBS has them, as every other plugin's docks use;
// otherwise, and under native Wayland, the plugin's own.
QCef *DockSet::resolvePanelHost()
{
	const bool wayland = nativeWayland();
	if (!wayland) {
		if (QCef *browser = obsBrowserPanelHost())
			return browser;
	}
	QCef *own = ownPanelHost.create(sources.panelProfilePath);
	if (!own) {
		logError("OBS browser panel host is unavailable. The docks need obs-browser, or Qt WebEngine 6 for the "
			 "plugin's own panel host (Debian and Ubuntu: apt-get install libqt6webenginewidgets6): %s",
			 ownPanelHost.error().toUtf8().constData());
		return nullptr;
	}
	ownPanelHostInUse = true;
	logInfo("Docks use the plugin's own browser panel host (Qt WebEngine): %s",
		wayland ? "OBS runs under Wayland, where obs-browser's panels are off."
			: "this OBS offers no obs-browser panels.");
	return own;
}

// Removes only the docks this module registered: after a refused
// registration the refused id may belong to another plugin's dock.
void DockSet::removeRegisteredDocks()
{
	for (size_t i = 0; i < kDockTable.size(); ++i) {
		if (!docks[i])
			continue;
		obs_frontend_remove_dock(kDockTable[i].id);
		QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
	}
}

void DockSet::positionZorvaDockOnFirstLoad()
{
	if (!needsFirstDockPlacement(sources.uiStatePath) || !mainWindow())
		return;
	std::make_shared<PlacementRun>(sources.uiStatePath)->post(0ms);
}

void DockSet::scheduleDockTitleRefresh()
{
	QMainWindow *window = mainWindow();
	if (!window)
		return;
	for (std::chrono::milliseconds delay : kTitleRefreshDelays)
		QTimer::singleShot(delay, window, &applyDockTitles);
}

void DockSet::refreshHostTabsOfAllDocks()
{
	invokeOnEachDock(&ZorvaDock::refreshHostTabs);
}

void DockSet::refreshEventProxyTabsOfAllDocks()
{
	invokeOnEachDock(&ZorvaDock::refreshEventProxyTabs);
}

// Queued: a notice may come from any thread, and the docks live on the UI thread.
void DockSet::invokeOnEachDock(void (ZorvaDock::*method)())
{
	for (ZorvaDock *dock : docks) {
		if (!dock)
			continue;
		[[maybe_unused]] const bool queued = postTo(dock, [dock, method] { (dock->*method)(); });
		Q_ASSERT(queued);
	}
}
