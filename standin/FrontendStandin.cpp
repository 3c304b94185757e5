#include "FrontendStandin.h"

#include <algorithm>

#include <QDockWidget>
#include <QLabel>
#include <QMainWindow>

#include "obs/FrontendApi.h"

FrontendStandin &FrontendStandin::instance()
{
	static FrontendStandin frontend;
	return frontend;
}

QMainWindow *FrontendStandin::createMainWindow()
{
	if (!window) {
		window = new QMainWindow();
		window->setObjectName(QStringLiteral("OBSBasic"));
		window->setWindowTitle(QStringLiteral("OBS (stand-in)"));
		window->resize(1280, 800);
		// Where OBS shows its preview; docks go around it.
		auto *preview = new QLabel(QStringLiteral("OBS preview (stand-in)"), window);
		preview->setAlignment(Qt::AlignCenter);
		preview->setMinimumSize(480, 270);
		window->setCentralWidget(preview);
	}
	return window;
}

void FrontendStandin::destroyMainWindow()
{
	delete window;
	window = nullptr;
}

void FrontendStandin::fireEvent(obs_frontend_event event)
{
	// Copy first: a callback may unregister itself.
	const auto current = callbacks;
	for (const auto &[callback, data] : current)
		callback(event, data);
}

void FrontendStandin::addEventCallback(obs_frontend_event_cb callback, void *data)
{
	++addEventCallbackCalls;
	callbacks.emplace_back(callback, data);
}

void FrontendStandin::removeEventCallback(obs_frontend_event_cb callback, void *data)
{
	++removeEventCallbackCalls;
	const auto it = std::find(callbacks.begin(), callbacks.end(), std::make_pair(callback, data));
	if (it != callbacks.end())
		callbacks.erase(it);
}

bool FrontendStandin::addDock(const char *id, const char *title, void *widget)
{
	if (!window || !id || !widget)
		return false;
	const QString name = QString::fromUtf8(id);
	if (window->findChild<QDockWidget *>(name))
		return false;
	// Like OBS 30: a new dock is added to the right area, then hidden and made
	// floating until the plugin or the saved layout places it.
	auto *dock = new QDockWidget(QString::fromUtf8(title), window);
	dock->setObjectName(name);
	dock->setWidget(static_cast<QWidget *>(widget));
	window->addDockWidget(Qt::RightDockWidgetArea, dock);
	dock->setVisible(false);
	dock->setFloating(true);
	addedDocks.emplace_back(id);
	return true;
}

void FrontendStandin::removeDock(const char *id)
{
	if (!window || !id)
		return;
	removedDocks.emplace_back(id);
	if (auto *dock = window->findChild<QDockWidget *>(QString::fromUtf8(id))) {
		window->removeDockWidget(dock);
		dock->deleteLater();
	}
}

// The front-end functions the module resolves from the host executable.
extern "C" {

EXPORT void obs_frontend_add_event_callback(obs_frontend_event_cb callback, void *private_data)
{
	FrontendStandin::instance().addEventCallback(callback, private_data);
}

EXPORT void obs_frontend_remove_event_callback(obs_frontend_event_cb callback, void *private_data)
{
	FrontendStandin::instance().removeEventCallback(callback, private_data);
}

EXPORT bool obs_frontend_add_dock_by_id(const char *id, const char *title, void *widget)
{
	return FrontendStandin::instance().addDock(id, title, widget);
}

EXPORT void obs_frontend_remove_dock(const char *id)
{
	FrontendStandin::instance().removeDock(id);
}

EXPORT void *obs_frontend_get_main_window(void)
{
	return FrontendStandin::instance().mainWindow();
}
}
