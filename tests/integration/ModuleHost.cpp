#include "ModuleHost.h"

#include "FrontendStandin.h"
#include "LogCapture.h"
#include "StandinHost.h"
#include "UrlCapture.h"
#include "host/ObsWebSocketNames.h"

#include <fstream>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <QThread>

void ModuleHostTest::SetUp()
{
	ASSERT_TRUE(fresh.valid());
	LogCapture::instance().install();
	FrontendStandin::instance().createMainWindow();
	browser = std::make_unique<UrlCapture>();
}

void ModuleHostTest::TearDown()
{
	unload();
	FrontendStandin::instance().destroyMainWindow();
	browser.reset();
}

void ModuleHostTest::load()
{
	load(Setup());
}

void ModuleHostTest::load(const Setup &setup)
{
	ObsSetup &obs = fresh.obs;
	obs.folders.moduleConfigDir =
		setup.moduleConfigDir.isEmpty() ? fresh.defaultModuleConfigDir() : setup.moduleConfigDir;
	ASSERT_TRUE(obs.start());
	if (setup.withObsWebSocket)
		obs.installObsWebSocket(setup.obsWebSocket);
	if (setup.withBrowser) {
		ASSERT_TRUE(obs.loadBrowser(QStringLiteral(ZORVA_BROWSER_STANDIN_FILE)));
	}
	const QString dataDir = setup.moduleDataDir.isEmpty() ? QStringLiteral(ZORVA_DATA_DIR) : setup.moduleDataDir;
	const QString moduleFile = setup.moduleFile.isEmpty() ? QStringLiteral(ZORVA_MODULE_FILE) : setup.moduleFile;
	moduleName = ObsSetup::moduleName(moduleFile);
	ASSERT_TRUE(obs.loadModule(moduleFile, dataDir));
}

void ModuleHostTest::postLoad()
{
	fresh.obs.postLoad();
}

void ModuleHostTest::unload()
{
	fresh.obs.shutdown();
}

QString ModuleHostTest::obsWebSocketConfigPath() const
{
	return fresh.obs.obsWebSocketConfigPath();
}

void ModuleHostTest::writeObsWebSocketConfig(const nlohmann::json &config) const
{
	ASSERT_TRUE(fresh.obs.writeObsWebSocketConfig(QByteArray::fromStdString(config.dump())));
}

QString ModuleHostTest::moduleConfigFile(const QString &name) const
{
	return fresh.obs.moduleConfigFile(moduleName, name);
}

void ModuleHostTest::seedAuth(const QString &moduleFile, const AccountTokens &account,
			      const std::vector<IntegrationRecord> &linked) const
{
	fresh.obs.seedAuth(ObsSetup::moduleName(moduleFile), account, linked);
}

std::vector<ObsWebSocketStandin::Event> ModuleHostTest::statusEvents() const
{
	std::vector<ObsWebSocketStandin::Event> result;
	for (const auto &event : ObsWebSocketStandin::instance().events()) {
		const auto data = nlohmann::json::parse(event.dataJson, nullptr, false);
		if (event.vendor == ObsWebSocketNames::vendorName && event.type == ObsWebSocketNames::eventType &&
		    data.is_object() && data.value("method", "") == "zorva.statusChanged")
			result.push_back(event);
	}
	return result;
}

nlohmann::json ModuleHostTest::vendorRequest(const nlohmann::json &request)
{
	return vendorRequestText(request.dump());
}

nlohmann::json ModuleHostTest::vendorRequestText(const std::string &text)
{
	auto future = ObsWebSocketStandin::instance().callVendorRequest(ObsWebSocketNames::vendorName,
									ObsWebSocketNames::requestType, text);
	const bool ready =
		waitUntil([&] { return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
			  std::chrono::seconds(20));
	if (!ready) {
		ADD_FAILURE() << "vendor request did not complete";
		return nullptr;
	}
	const auto response = future.get();
	if (!response.found)
		return nullptr;
	return nlohmann::json::parse(response.responseJson, nullptr, false);
}

BrowserJournal *ModuleHostTest::browserJournal() const
{
	return StandinHost::browserJournal();
}

std::vector<std::string> threadNames()
{
	std::vector<std::string> names;
	QDirIterator tasks(QStringLiteral("/proc/self/task"), QDir::Dirs | QDir::NoDotAndDotDot);
	while (tasks.hasNext()) {
		std::ifstream comm((tasks.next() + QStringLiteral("/comm")).toStdString());
		std::string name;
		std::getline(comm, name);
		names.push_back(name);
	}
	return names;
}

bool eventProxyAcceptsConnections()
{
	QTcpSocket socket;
	socket.connectToHost(QStringLiteral("127.0.0.1"), 44423);
	return socket.waitForConnected(1000);
}
