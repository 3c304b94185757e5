// The module file of the development host's obs-browser stand-in: a libobs
// module named "obs-browser" that loads the WebEngine panels
// (WebEngineBrowser.cpp, a library beside this file) only when the module is
// loaded, and forwards to them.
//
// A module file must be safe to open in any process. Some libobs builds open
// every module file in a forked copy of the host to see what it links, and
// never load it there; WebEngine's libraries start work when they are opened,
// which deadlocks in such a copy on the X connection it inherited. This file
// links libobs only.

#include "WebEngineEntryPoints.h"

#include <dlfcn.h>

#include <string>

#include <obs-module.h>
#include <util/util.hpp>

OBS_DECLARE_MODULE()

namespace {

constexpr char kLibraryName[] = "obs-browser-webengine.so";

struct EntryPoints {
	decltype(&obs_browser_webengine_load) load = nullptr;
	decltype(&obs_browser_webengine_unload) unload = nullptr;
	decltype(&obs_browser_webengine_create_qcef) createQcef = nullptr;
};

EntryPoints entryPoints;

// The folder this file was loaded from, with its trailing slash.
std::string ownFolder()
{
	Dl_info info{};
	if (!dladdr(reinterpret_cast<void *>(&ownFolder), &info) || !info.dli_fname)
		return {};
	const std::string file = info.dli_fname;
	const size_t slash = file.rfind('/');
	return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
}

template<typename Function> bool resolve(void *library, const char *name, Function &function)
{
	function = reinterpret_cast<Function>(dlsym(library, name));
	return function != nullptr;
}

// Loads the WebEngine library once; false, with the reason logged, when it
// cannot be loaded. It stays loaded: WebEngine's threads outlive any unload.
bool loadWebEngine()
{
	if (entryPoints.createQcef)
		return true;
	const std::string file = ownFolder() + kLibraryName;
	void *library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
	if (!library) {
		blog(LOG_ERROR, "[obs-browser] could not load %s: %s", file.c_str(), dlerror());
		return false;
	}
	EntryPoints found;
	if (!resolve(library, "obs_browser_webengine_load", found.load) ||
	    !resolve(library, "obs_browser_webengine_unload", found.unload) ||
	    !resolve(library, "obs_browser_webengine_create_qcef", found.createQcef)) {
		blog(LOG_ERROR, "[obs-browser] %s lacks the panel entry points", file.c_str());
		return false;
	}
	entryPoints = found;
	return true;
}

} // namespace

bool obs_module_load(void)
{
	if (!loadWebEngine())
		return false;
	// The profile lives in this module's configuration folder, so that
	// sign-ins survive a restart of the host.
	BPtr<char> storage = obs_module_config_path("webengine");
	entryPoints.load(storage.Get());
	return true;
}

void obs_module_unload(void)
{
	if (entryPoints.unload)
		entryPoints.unload();
}

MODULE_EXPORT QCef *obs_browser_create_qcef(void)
{
	return loadWebEngine() ? entryPoints.createQcef() : nullptr;
}
