#pragma once

// A fresh OBS setup for one stand-in OBS process, laid out as OBS lays out
// its own: the user's configuration folder (XDG_CONFIG_HOME, below which the
// module looks up obs-websocket's settings), the modules' configuration
// folder that libobs is started with, and obs-browser's data folder;
// obs-websocket's settings file; module files opened and initialised as OBS
// loads them; and a module's auth file, written by the module's own
// AuthStateFile, so that what a run starts with is what the module would
// have saved. The integration tests, the host benchmarks and the development
// host all start OBS with it.

#include "ObsWebSocketStandin.h"
#include "StandinHost.h"
#include "auth/IntegrationRecord.h"
#include "auth/TokenStore.h"

#include <QByteArray>
#include <QString>

#include <vector>

class ObsSetup {
public:
	struct Folders {
		QString xdgConfigHome;   // the user's configuration folder
		QString moduleConfigDir; // libobs's: <dir>/<module name>/ for each module
		QString browserDataDir;  // the obs-browser module's data folder
	};

	// Below one home folder: xdg/, plugin_config/ and obs-browser/.
	static Folders below(const QString &home);
	// The name libobs gives a module: its file's name without the suffix.
	static QString moduleName(const QString &moduleFile);

	// Points XDG_CONFIG_HOME at the configuration folder.
	explicit ObsSetup(Folders folders);
	~ObsSetup();
	ObsSetup(const ObsSetup &) = delete;
	ObsSetup &operator=(const ObsSetup &) = delete;

	// The module configuration folder may change until start().
	Folders folders;

	QString obsWebSocketConfigPath() const;
	// False when the file could not be written.
	bool writeObsWebSocketConfig(const QByteArray &json) const;

	QString moduleConfigFile(const QString &moduleName, const QString &name) const;
	QString authFilePath(const QString &moduleName) const;
	// The module's auth file holding this account and these linked accounts.
	void seedAuth(const QString &moduleName, const AccountTokens &account,
		      const std::vector<IntegrationRecord> &linked = {}) const;

	// Starts libobs with the module configuration folder (made first).
	bool start();
	void installObsWebSocket(const ObsWebSocketStandin::Options &options = {});
	// An obs-browser module file, with the browser data folder.
	bool loadBrowser(const QString &file);
	bool loadModule(const QString &file, const QString &dataDir);
	void postLoad();
	// Unloads every module and stops libobs; nothing when not started.
	void shutdown();

private:
	StandinHost host;
};
