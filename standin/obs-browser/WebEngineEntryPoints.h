#pragma once

// What the obs-browser module file (WebEngineLoader.cpp) finds by name in the
// WebEngine library it loads beside itself.

class QCef;

extern "C" {

// obs_module_load: WebEngine's environment, software drawing, and
// where the profile keeps its data (null or empty: in memory).
__attribute__((visibility("default"))) void obs_browser_webengine_load(const char *storagePath);
// obs_module_unload.
__attribute__((visibility("default"))) void obs_browser_webengine_unload(void);
// obs_browser_create_qcef.
__attribute__((visibility("default"))) QCef *obs_browser_webengine_create_qcef(void);
}
