#pragma once

#include <obs-frontend-api.h>

#include "host/HostBootstrap.h"

// The module's spine: load, post-load and unload, and the module-wide
// operations other subsystems call. Everything here runs on the UI thread.

void loadModule();
void postLoadModule();
void unloadModule();

void refreshHostState();
void emitStatusChanged();
void syncIntegrationsToRuntime();
void onObsWebSocketConfigChanged();
void armConfigWatcher();
void addQtPluginSearchPath();
void frontendEventCallback(enum obs_frontend_event event, void *privateData);

// The module's current state as the host bootstrap sees it.
HostBootstrapSources hostBootstrapSources();
