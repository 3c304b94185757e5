#include "StandinHost.h"

#include "BrowserJournal.h"

#include <QGuiApplication>

#include <obs-module.h>
#include <obs-nix-platform.h>
#include <util/platform.h>

bool StandinHost::startup(const QString &moduleConfigDir)
{
	// As OBS does on Linux: libobs uses the application's X connection.
	obs_set_nix_platform(OBS_NIX_PLATFORM_X11_EGL);
	// A host without a GUI application (one the module must refuse) has no X
	// connection to share.
	auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
	if (auto *x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr)
		obs_set_nix_platform_display(x11->display());
	running = obs_startup("en-US", moduleConfigDir.toUtf8().constData(), nullptr);
	if (!running)
		blog(LOG_ERROR, "[standin] obs_startup failed");
	return running;
}

bool StandinHost::loadModule(const QString &file, const QString &dataDir)
{
	obs_module_t *module = nullptr;
	const int result = obs_open_module(&module, file.toUtf8().constData(), dataDir.toUtf8().constData());
	if (result != MODULE_SUCCESS) {
		blog(LOG_ERROR, "[standin] failed to open module %s (%d)", file.toUtf8().constData(), result);
		return false;
	}
	if (!obs_init_module(module)) {
		blog(LOG_ERROR, "[standin] failed to initialise module %s", file.toUtf8().constData());
		return false;
	}
	return true;
}

void StandinHost::postLoad()
{
	obs_post_load_modules();
}

void StandinHost::shutdown()
{
	if (!running)
		return;
	obs_shutdown();
	running = false;
}

BrowserJournal *StandinHost::browserJournal()
{
	obs_module_t *browser = obs_get_module("obs-browser");
	void *library = browser ? obs_get_module_lib(browser) : nullptr;
	auto accessor = library ? reinterpret_cast<BrowserJournalAccessor>(os_dlsym(library, "standin_browser_journal"))
				: nullptr;
	return accessor ? accessor() : nullptr;
}
