// The dock pages' URLs and the access-token scripts.

#include "docks/DockPageUrls.h"
#include "BuildConfig.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <obs.h>

namespace {

QStringList queryKeys(const QString &url)
{
	QStringList keys;
	for (const auto &[key, value] : QUrlQuery(QUrl(url)).queryItems())
		keys << key;
	return keys;
}

QString queryValue(const QString &url, const char *key)
{
	return QUrlQuery(QUrl(url)).queryItemValue(QLatin1String(key), QUrl::FullyDecoded);
}

} // namespace

TEST(DockPageUrls, DefaultsPerKind)
{
	ServiceEndpoints endpoints;
	endpoints.webAppBaseUrl = QStringLiteral("https://app.zorva.test/");
	endpoints.dockPagesBaseUrl = QStringLiteral("https://docks.zorva.test");
	EXPECT_EQ(defaultPageUrl(DockKind::Main, endpoints),
		  QStringLiteral("https://app.zorva.test/shim.html?url=https%3A%2F%2Fapp.zorva.test%2F"));
	EXPECT_EQ(defaultPageUrl(DockKind::Accounts, endpoints),
		  QStringLiteral("https://app.zorva.test/shim.html?url=https%3A%2F%2Fdocks.zorva.test%2Faccounts"));
	EXPECT_EQ(defaultPageUrl(DockKind::Chat, endpoints), QStringLiteral("https://docks.zorva.test/chat"));
	EXPECT_EQ(defaultPageUrl(DockKind::StreamManager, endpoints),
		  QStringLiteral("https://docks.zorva.test/stream-info"));
}

TEST(DockPageUrls, HostDecoration)
{
	const QString shim =
		shimUrl(QStringLiteral("https://app.zorva.test/"), QStringLiteral("https://app.zorva.test/?a=1&b=2"));
	ObsWebSocketBootstrap bootstrap;
	bootstrap.password = QStringLiteral("p&w=+1");
	bootstrap.error = QStringLiteral("obs-websocket is disabled. Enable it in OBS to continue.");
	const QString decorated = hostDecoratedUrl(shim, bootstrap);
	EXPECT_TRUE(decorated.startsWith(QStringLiteral("https://app.zorva.test/shim.html?url=")));
	EXPECT_EQ(queryKeys(decorated), QStringList({"url", "ov", "pv", "ow"}));
	EXPECT_EQ(queryValue(decorated, "url"), QStringLiteral("https://app.zorva.test/?a=1&b=2"));
	EXPECT_EQ(queryValue(decorated, "pv"), QStringLiteral(ZORVA_VERSION));
	EXPECT_EQ(queryValue(decorated, "ov"), QString::fromUtf8(obs_get_version_string()));
	EXPECT_EQ(
		queryValue(decorated, "ow"),
		QStringLiteral(
			R"({"e":"obs-websocket is disabled. Enable it in OBS to continue.","en":false,"h":"127.0.0.1",)"
			R"("p":4455,"pw":"p&w=+1","r":1,"s":false,"v":"5.0.0","ve":"message","vn":"vorn-zorva","vr":"agentTools"})"));
	EXPECT_FALSE(decorated.contains(QLatin1Char(' ')));

	// Decorating again replaces; without an error there is no "e".
	bootstrap.error.clear();
	const QString again = hostDecoratedUrl(decorated, bootstrap);
	EXPECT_EQ(queryKeys(again), QStringList({"url", "ov", "pv", "ow"}));
	EXPECT_FALSE(QJsonDocument::fromJson(queryValue(again, "ow").toUtf8()).object().contains(QStringLiteral("e")));

	// Only shim pages are decorated.
	EXPECT_EQ(hostDecoratedUrl(QStringLiteral("https://docks.zorva.test/chat"), bootstrap),
		  QStringLiteral("https://docks.zorva.test/chat"));
}

TEST(DockPageUrls, EventProxyDecoration)
{
	const QString proxy = QStringLiteral("ws://127.0.0.1:44423?token=abc");
	EXPECT_EQ(eventProxyDecoratedUrl(QStringLiteral("https://d.test/chat"),
					 QStringLiteral("  ") + proxy + QStringLiteral(" ")),
		  QStringLiteral("https://d.test/chat?vornurl=ws://127.0.0.1:44423?token=abc"));
	EXPECT_EQ(eventProxyDecoratedUrl(QStringLiteral("https://d.test/chat?x=1"), proxy),
		  QStringLiteral("https://d.test/chat?x=1&vornurl=ws://127.0.0.1:44423?token=abc"));
	EXPECT_EQ(eventProxyDecoratedUrl(QStringLiteral("https://d.test/chat?vornurl=old&theme=dark"), proxy),
		  QStringLiteral("https://d.test/chat?vornurl=ws://127.0.0.1:44423?token=abc&theme=dark"));
	EXPECT_EQ(eventProxyDecoratedUrl(QStringLiteral("https://d.test/chat?vornurl=old"), proxy),
		  QStringLiteral("https://d.test/chat?vornurl=ws://127.0.0.1:44423?token=abc"));
	EXPECT_EQ(eventProxyDecoratedUrl(QStringLiteral("https://d.test/chat"), QStringLiteral("   ")),
		  QStringLiteral("https://d.test/chat"));
}

TEST(DockPageUrls, ScriptsByteForByte)
{
	const QString startup = accessTokenStartupScript(QString());
	EXPECT_EQ(startup.size(), 331 - 2 + int(sizeof(R"({"accessToken":""})") - 1));
	EXPECT_EQ(startup, QStringLiteral("\n(() => {\n  const config = {\"accessToken\":\"\"};\n"
					  "  function setVornAccessToken(token) {\n"
					  "    const value = typeof token === \"string\" ? token : \"\";\n"
					  "    window.__vornAccessToken = value;\n"
					  "    window._vornAccessToken = value;\n"
					  "    window.dispatchEvent(new CustomEvent(\"vornAccessTokenChanged\"));\n"
					  "  }\n\n"
					  "  setVornAccessToken(config.accessToken || \"\");\n"
					  "})();\n"));
	const QString update = accessTokenUpdateScript(QStringLiteral("t\"ok"));
	EXPECT_EQ(update.size(), 260 - 2 + int(sizeof(R"({"accessToken":"t\"ok"})") - 1));
	EXPECT_TRUE(update.contains(QStringLiteral("  const payload = {\"accessToken\":\"t\\\"ok\"};\n")));
}
