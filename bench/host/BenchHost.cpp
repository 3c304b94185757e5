#include "BenchHost.h"

#include "FrontendStandin.h"
#include "LogCapture.h"
#include "ObsWebSocketStandin.h"
#include "StandinHost.h"
#include "UrlCapture.h"
#include "host/ObsWebSocketNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMainWindow>
#include <QWidget>

#include <nlohmann/json.hpp>

namespace {
StandinHost host;
}

BenchHost::BenchHost()
{
	qputenv("XDG_CONFIG_HOME", xdgConfigHome.path().toUtf8());
	configDir = scratch.filePath(QStringLiteral("plugin_config"));
	QDir().mkpath(configDir);
}

BenchHost::~BenchHost()
{
	shutdown();
}

bool BenchHost::start()
{
	LogCapture::instance().install();
	LogCapture::instance().setEcho(false);
	QMainWindow *window = FrontendStandin::instance().createMainWindow();
	// OBS has laid out its own window, and so loaded its fonts, before it
	// loads plugins; the first text measurement of a new process loads the
	// font database (about 5 ms here), which is not the module's work.
	QFontMetrics(window->font()).horizontalAdvance(QStringLiteral("OBS"));
	// Likewise its own docks exist: the first floating dock of a process
	// sets up what every later one reuses.
	FrontendStandin::instance().addDock("bench-warm-up", "warm-up", new QWidget());
	FrontendStandin::instance().removeDock("bench-warm-up");
	// Nothing here opens the real system browser.
	browser = std::make_unique<UrlCapture>();
	if (!host.startup(configDir))
		return false;
	running = true;
	ObsWebSocketStandin::instance().install();
	const QString browserData = scratch.filePath(QStringLiteral("obs-browser-data"));
	QDir().mkpath(browserData);
	return host.loadModule(QStringLiteral(ZORVA_BROWSER_STANDIN_FILE), browserData);
}

bool BenchHost::loadModule(const QString &file)
{
	return host.loadModule(file, QStringLiteral(ZORVA_DATA_DIR));
}

void BenchHost::postLoad()
{
	host.postLoad();
}

void BenchHost::shutdown()
{
	if (!running)
		return;
	host.shutdown();
	running = false;
	FrontendStandin::instance().destroyMainWindow();
	browser.reset();
}

void BenchHost::writeObsWebSocketConfig(const std::string &json) const
{
	const QString path =
		QDir(xdgConfigHome.path()).filePath(QString::fromLatin1(ObsWebSocketNames::configRelativePath));
	QDir().mkpath(QFileInfo(path).absolutePath());
	QFile file(path);
	if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
		file.write(QByteArray::fromStdString(json));
}

QString BenchHost::e2eAuthFilePath() const
{
	return configDir + QStringLiteral("/vorn-zorva-e2e/zorva-auth.json");
}

void BenchHost::writeE2eAuthFile(int linkedAccounts, const QJsonObject &account) const
{
	const char *platforms[] = {"TWITCH", "YOUTUBE", "KICK", "TIKTOK"};
	QJsonArray integrations;
	for (int i = 0; i < linkedAccounts; ++i)
		integrations.append(QJsonObject{{QStringLiteral("platform"), QString::fromLatin1(platforms[i % 4])},
						{QStringLiteral("token"), QStringLiteral("vek-token-%1").arg(i)},
						{QStringLiteral("upid"), QStringLiteral("u%1").arg(i)},
						{QStringLiteral("username"), QStringLiteral("user%1").arg(i)}});
	QJsonObject state{{QStringLiteral("integrations"), integrations}};
	if (!account.isEmpty())
		state.insert(QStringLiteral("account"), account);
	const QString path = e2eAuthFilePath();
	QDir().mkpath(QFileInfo(path).absolutePath());
	QFile file(path);
	if (file.open(QIODevice::WriteOnly))
		file.write(QJsonDocument(state).toJson(QJsonDocument::Compact));
}

std::string BenchHost::proxyToken() const
{
	std::string token;
	for (const auto &event : ObsWebSocketStandin::instance().events()) {
		const auto data = nlohmann::json::parse(event.dataJson, nullptr, false);
		if (!data.is_object() || data.value("method", "") != "zorva.statusChanged")
			continue;
		const auto bootstrap = data["params"].value("hostBootstrap", nlohmann::json::object());
		token = bootstrap.value("sessionToken", "");
	}
	return token;
}
