#pragma once

#include <string>
#include <utility>
#include <vector>

#include <obs-frontend-api.h>

class QMainWindow;

// Stands in for the OBS front end: the main window, dock registration and
// front-end events. The obs_frontend_* functions the module calls are defined
// by the host executable (see FrontendStandin.cpp) and resolve to this.
class FrontendStandin {
public:
	static FrontendStandin &instance();

	QMainWindow *createMainWindow();
	QMainWindow *mainWindow() const { return window; }
	void destroyMainWindow();

	void fireEvent(obs_frontend_event event);

	// Front-end API implementation.
	void addEventCallback(obs_frontend_event_cb callback, void *data);
	void removeEventCallback(obs_frontend_event_cb callback, void *data);
	bool addDock(const char *id, const char *title, void *widget);
	void removeDock(const char *id);

	size_t eventCallbackCount() const { return callbacks.size(); }
	int addEventCallbackCalls = 0;
	int removeEventCallbackCalls = 0;
	std::vector<std::string> addedDocks;
	std::vector<std::string> removedDocks;

private:
	QMainWindow *window = nullptr;
	std::vector<std::pair<obs_frontend_event_cb, void *>> callbacks;
};
