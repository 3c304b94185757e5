#pragma once

#include <QString>

#include <obs.h>

struct BrowserJournal;

// Runs real libobs the way OBS does for plugin modules: start-up with a module
// configuration folder, open and initialise module files, post-load, shutdown.
class StandinHost {
public:
	// Starts libobs; the module configuration folder is <moduleConfigDir>/<module name>.
	bool startup(const QString &moduleConfigDir);
	// Opens and initialises one module file; false (with the reason logged) on failure.
	bool loadModule(const QString &file, const QString &dataDir);
	void postLoad();
	// Unloads every module and stops libobs.
	void shutdown();

	bool started() const { return running; }

	// The recording obs-browser stand-in's journal, when that module is loaded.
	static BrowserJournal *browserJournal();

private:
	bool running = false;
};
