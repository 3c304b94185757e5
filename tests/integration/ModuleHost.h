#pragma once

// A stand-in OBS process for one test: fresh folders, real libobs, the
// stand-ins, and the built module loaded as OBS loads it.

#include "EventLoopWait.h"
#include "ObsWebSocketStandin.h"
#include "TemporaryObsSetup.h"
#include "UrlCapture.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QString>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

struct BrowserJournal;

class ModuleHostTest : public ::testing::Test {
protected:
	struct Setup {
		bool withObsWebSocket = true;
		ObsWebSocketStandin::Options obsWebSocket;
		bool withBrowser = true;
		QString moduleDataDir;   // empty: the project's data folder
		QString moduleConfigDir; // empty: a fresh temporary folder
		QString moduleFile;      // empty: vorn-zorva.so
	};

	void SetUp() override;
	void TearDown() override;

	// Starts libobs and loads the stand-ins and the module (obs_module_load).
	void load(const Setup &setup);
	void load();
	void postLoad();
	void unload();

	QString obsWebSocketConfigPath() const;
	void writeObsWebSocketConfig(const nlohmann::json &config) const;
	// In the configuration folder of the module loaded last (before any is,
	// of vorn-zorva.so).
	QString moduleConfigFile(const QString &name) const;
	// The auth file of the module in moduleFile, for its next load.
	void seedAuth(const QString &moduleFile, const AccountTokens &account,
		      const std::vector<IntegrationRecord> &linked = {}) const;

	std::vector<ObsWebSocketStandin::Event> statusEvents() const;
	nlohmann::json vendorRequest(const nlohmann::json &request);
	// Raw request data text; empty for null request data. Null when the
	// vendor or its request type is not registered.
	nlohmann::json vendorRequestText(const std::string &text);
	BrowserJournal *browserJournal() const;

	// Nothing a test does opens the real system browser.
	std::unique_ptr<UrlCapture> browser;
	TemporaryObsSetup fresh;
	QString moduleName = ObsSetup::moduleName(QStringLiteral(ZORVA_MODULE_FILE));
};

// Names of this process's threads.
std::vector<std::string> threadNames();
bool eventProxyAcceptsConnections();
