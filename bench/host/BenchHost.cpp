#include "BenchHost.h"

#include "FrontendStandin.h"
#include "LogCapture.h"
#include "ObsWebSocketStandin.h"
#include "UrlCapture.h"

#include <QFontMetrics>
#include <QMainWindow>
#include <QWidget>

#include <nlohmann/json.hpp>

namespace {

const QString kE2eModule = ObsSetup::moduleName(QStringLiteral(ZORVA_E2E_MODULE_FILE));

} // namespace

BenchHost::BenchHost() = default;

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
	if (!fresh.obs.start())
		return false;
	running = true;
	fresh.obs.installObsWebSocket();
	return fresh.obs.loadBrowser(QStringLiteral(ZORVA_BROWSER_STANDIN_FILE));
}

bool BenchHost::loadModule(const QString &file)
{
	return fresh.obs.loadModule(file, QStringLiteral(ZORVA_DATA_DIR));
}

void BenchHost::postLoad()
{
	fresh.obs.postLoad();
}

void BenchHost::shutdown()
{
	if (!running)
		return;
	fresh.obs.shutdown();
	running = false;
	FrontendStandin::instance().destroyMainWindow();
	browser.reset();
}

void BenchHost::writeObsWebSocketConfig(const std::string &json) const
{
	fresh.obs.writeObsWebSocketConfig(QByteArray::fromStdString(json));
}

QString BenchHost::e2eAuthFilePath() const
{
	return fresh.obs.authFilePath(kE2eModule);
}

void BenchHost::writeE2eAuthFile(int linkedAccounts, const AccountTokens &account) const
{
	const char *platforms[] = {"TWITCH", "YOUTUBE", "KICK", "TIKTOK"};
	std::vector<IntegrationRecord> linked;
	for (int i = 0; i < linkedAccounts; ++i)
		linked.push_back({QString::fromLatin1(platforms[i % 4]), QStringLiteral("vek-token-%1").arg(i),
				  QStringLiteral("u%1").arg(i), QStringLiteral("user%1").arg(i)});
	fresh.obs.seedAuth(kE2eModule, account, linked);
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
