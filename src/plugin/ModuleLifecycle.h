#pragma once

// The module's spine: load, post-load and unload. Everything here runs on the
// UI thread.

void loadModule();
void postLoadModule();
void unloadModule();
