#pragma once

// One stand-in OBS run for the host path benchmarks: fresh folders, real
// libobs, the obs-websocket and obs-browser stand-ins, and a module file
// loaded as OBS loads it. Each step can be timed on its own.

#include "TemporaryObsSetup.h"

#include <QString>

#include <memory>
#include <string>

class UrlCapture;

class BenchHost {
public:
	BenchHost();
	~BenchHost();

	// libobs and the stand-ins; not part of any figure.
	bool start();
	bool loadModule(const QString &file);
	void postLoad();
	void shutdown();

	// obs-websocket's configuration file under this run's XDG_CONFIG_HOME.
	void writeObsWebSocketConfig(const std::string &json) const;
	// The end-to-end flavour's auth file: what it connects at start-up.
	QString e2eAuthFilePath() const;
	// `linkedAccounts` accounts linked through Vek (platforms in turn, tokens
	// "vek-token-<i>", upids "u<i>"), and the Vorn account's tokens if any.
	void writeE2eAuthFile(int linkedAccounts, const AccountTokens &account = {}) const;
	// The event proxy token of the last "zorva.statusChanged", or empty.
	std::string proxyToken() const;

private:
	TemporaryObsSetup fresh;
	std::unique_ptr<UrlCapture> browser;
	bool running = false;
};
