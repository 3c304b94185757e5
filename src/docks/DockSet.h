#pragma once

// The four Zorva docks of the OBS main window: creation, first placement,
// titles and removal. UI thread only, except destroyDocks (see there).

void initializeDock();
void destroyDocks();
void positionZorvaDockOnFirstLoad();
void scheduleDockTitleRefresh();
void refreshHostTabsOfAllDocks();
void refreshEventProxyTabsOfAllDocks();
