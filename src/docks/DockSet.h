#pragma once

#include "docks/PanelHostLibrary.h"
#include "docks/ZorvaDock.h"

#include <array>
#include <memory>

#include <QString>

class AuthController;
struct QCef;

// The four Zorva docks of the OBS main window: creation, first placement,
// titles and removal. UI thread only, except destroyDocks (see there).
class DockSet {
public:
	// What the docks' pages are built from, handed in by the module.
	struct Sources {
		AuthController *authController = nullptr;
		ZorvaDock::EventProxyUrlProvider eventProxyUrl;
		ZorvaDock::BootstrapProvider obsWebSocketBootstrap;
		// Where the first placement is remembered ("zorva-ui.json"); empty:
		// nowhere, so the docks are placed at every load.
		QString uiStatePath;
		// The plugin's own panel host, for an OBS without obs-browser panels
		// (PanelHostLibrary::besideModule), and where its pages keep their
		// storage; empty: none, and in memory.
		QString panelHostLibrary;
		QString panelProfilePath;
	};

	explicit DockSet(Sources sources);
	~DockSet();
	DockSet(const DockSet &) = delete;
	DockSet &operator=(const DockSet &) = delete;

	// Creates and registers the four docks, once; places them too when OBS
	// has finished loading already.
	void initializeDock(bool hostFinishedLoading);
	// Closes the panels and removes the docks. From another thread the whole
	// removal runs on the UI thread, the caller waiting.
	void destroyDocks();
	// Docks the four together on the right, the first time ever.
	void positionZorvaDockOnFirstLoad();
	void refreshHostTabsOfAllDocks();
	void refreshEventProxyTabsOfAllDocks();

	// Re-applies the docks' titles a few times over the next second, as OBS
	// retitles docks when they are tabbed or floated.
	static void scheduleDockTitleRefresh();

private:
	QCef *resolvePanelHost();
	void removeRegisteredDocks();
	void invokeOnEachDock(void (ZorvaDock::*method)());

	Sources sources;
	std::unique_ptr<QCef> panelHost;
	PanelHostLibrary ownPanelHost;
	bool ownPanelHostInUse = false;
	std::array<ZorvaDock *, 4> docks = {};
	std::shared_ptr<ZorvaDock::UrlState> sharedUrlState;
	bool docksDestroyed = false;
};
