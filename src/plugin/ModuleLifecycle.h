#pragma once

// The module's spine: load, post-load and unload. Everything here runs on the
// UI thread.

// False, with the reason logged once, in a host the module cannot serve.
bool loadModule();
void postLoadModule();
void unloadModule();
