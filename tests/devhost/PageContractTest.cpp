// The pages' side of the module, in a real browser engine: the development
// flavour of the module in a stand-in OBS without obs-browser, its docks on
// the plugin's own panel host, the sample services on loopback, and the
// sample pages the docks load.

#include "ModuleHost.h"

#include "FrontendStandin.h"
#include "LogCapture.h"
#include "LoginCallbackClient.h"
#include "TlsTcpServer.h"
#include "samples/SampleServices.h"

#include <QDockWidget>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QMainWindow>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QUrlQuery>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>

using namespace std::chrono_literals;
using nlohmann::json;

namespace {

// The first WebEngine start of a process takes long on a small machine.
constexpr auto kPageLoad = 40s;

class PageContractTest : public ModuleHostTest {
protected:
	void SetUp() override
	{
		ModuleHostTest::SetUp();
		ThrowawayTls::trustAuthority();
		ASSERT_TRUE(samples.start());
		Setup setup;
		setup.moduleFile = QStringLiteral(ZORVA_DEV_MODULE_FILE);
		setup.withBrowser = false;
		load(setup);
		postLoad();
		ASSERT_EQ(LogCapture::instance().count("[vorn-zorva] Docks use the plugin's own browser panel host (Qt "
						       "WebEngine): this OBS offers no obs-browser panels."),
			  1u);
		FrontendStandin::instance().mainWindow()->show();
		FrontendStandin::instance().fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
	}

	QWebEngineView *view(const char *dockId) const
	{
		auto *dock = FrontendStandin::instance().mainWindow()->findChild<QDockWidget *>(QLatin1String(dockId));
		return dock ? dock->findChild<QWebEngineView *>() : nullptr;
	}

	// Runs script in the page and waits for its value.
	static QVariant evaluate(QWebEngineView *view, const QString &script)
	{
		QVariant result;
		bool done = false;
		view->page()->runJavaScript(script, [&](const QVariant &value) {
			result = value;
			done = true;
		});
		waitUntil([&] { return done; }, 10s);
		return result;
	}

	static bool waitForPage(QWebEngineView *view, const QString &pathPart,
				std::chrono::milliseconds timeout = kPageLoad)
	{
		return waitUntil(
			[&] {
				return view->url().toString().contains(pathPart) &&
				       evaluate(view, QStringLiteral("document.readyState")).toString() ==
					       QStringLiteral("complete");
			},
			timeout);
	}

	// Loaded, and no new load for a while: a dock reloads its page whenever
	// it is shown, which goes on while the window settles.
	static bool waitForSettledPage(QWebEngineView *view, std::chrono::milliseconds timeout = kPageLoad)
	{
		QElapsedTimer sinceLoad;
		sinceLoad.start();
		const auto connection =
			QObject::connect(view, &QWebEngineView::loadStarted, [&] { sinceLoad.restart(); });
		const bool settled = waitUntil(
			[&] {
				return sinceLoad.elapsed() > 1500 &&
				       evaluate(view, QStringLiteral("document.readyState")).toString() ==
					       QStringLiteral("complete");
			},
			timeout);
		QObject::disconnect(connection);
		return settled;
	}

	SampleServices samples{QStringLiteral(ZORVA_DEVHOST_PAGES_DIR)};
};

// Counts "vornAccessTokenChanged" from the very start of every load: inserted
// before the dock's own start-up script.
void countTokenEvents(QWebEngineView *view)
{
	QWebEngineScript counter;
	counter.setName(QStringLiteral("token-event-counter"));
	counter.setInjectionPoint(QWebEngineScript::DocumentCreation);
	counter.setWorldId(QWebEngineScript::MainWorld);
	counter.setRunsOnSubFrames(false);
	counter.setSourceCode(
		QStringLiteral("window.__tokenEvents = 0;"
			       "window.addEventListener('vornAccessTokenChanged', () => window.__tokenEvents++);"));
	QWebEngineScriptCollection &scripts = view->page()->scripts();
	const QList<QWebEngineScript> dockScripts = scripts.toList();
	scripts.clear();
	scripts.insert(counter);
	scripts.insert(dockScripts);
	view->reload();
}

QByteArray httpGet(const QUrl &url, QUrl *redirect = nullptr)
{
	QNetworkAccessManager network;
	QNetworkRequest request(url);
	request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
	QNetworkReply *reply = network.get(request);
	waitUntil([&] { return reply->isFinished(); }, 10s);
	if (redirect)
		*redirect = reply->header(QNetworkRequest::LocationHeader).toUrl();
	const QByteArray body = reply->readAll();
	reply->deleteLater();
	return body;
}

} // namespace

TEST_F(PageContractTest, TokenGlobalsAndEventAtStartAndAfterALogin)
{
	QWebEngineView *main = view("vorn-zorva-dock");
	ASSERT_NE(main, nullptr);
	ASSERT_TRUE(waitForPage(main, QStringLiteral("/shim.html")));
	ASSERT_TRUE(waitForSettledPage(main));
	countTokenEvents(main);
	ASSERT_TRUE(waitForSettledPage(main));
	ASSERT_EQ(evaluate(main, QStringLiteral("typeof window.__tokenEvents")), "number");

	// Logged out: both globals empty, the event fired once, at start.
	const auto globals = [&] {
		return evaluate(main,
				QStringLiteral(
					"[window.__vornAccessToken, window._vornAccessToken, window.__tokenEvents]"))
			.toList();
	};
	const QVariantList start = globals();
	ASSERT_EQ(start.size(), 3);
	EXPECT_EQ(start[0], QString());
	EXPECT_EQ(start[1], QString());
	EXPECT_EQ(start[2].toInt(), 1);

	// Marks this document, to tell the update script from a reload.
	evaluate(main, QStringLiteral("window.__sameDocument = true"));

	// A login through the sample account service: authorize, approve, the
	// redirect page's hand-over to the loopback callback, token exchange.
	const json login = vendorRequest({{"id", "1"}, {"method", "authenticate"}});
	ASSERT_EQ(login["opened"], true);
	ASSERT_EQ(browser->openedUrls().size(), 1);
	const QUrlQuery authorize(browser->openedUrls()[0]);
	QUrlQuery approve;
	for (const char *key : {"redirect_uri", "state", "code_challenge"})
		approve.addQueryItem(QLatin1String(key), authorize.queryItemValue(QLatin1String(key)));
	QUrl redirect;
	httpGet(QUrl(QStringLiteral("http://127.0.0.1:%1/login/approve?%2")
			     .arg(SampleServices::accountPort)
			     .arg(approve.toString(QUrl::FullyEncoded))),
		&redirect);
	ASSERT_TRUE(redirect.isValid());
	EXPECT_TRUE(callbackGet(QStringLiteral("/callback?") + redirect.query(QUrl::FullyEncoded)).contains("200 OK"));

	std::string token;
	ASSERT_TRUE(waitUntil(
		[&] {
			token = vendorRequest(
				{{"id", "2"}, {"method", "zorva.status"}})["hostBootstrap"]["accessToken"];
			return !token.empty();
		},
		10s));
	// The update script set both globals to the new token and fired again.
	ASSERT_TRUE(waitUntil([&] { return globals().value(0).toString().toStdString() == token; }, 10s));
	const QVariantList after = globals();
	EXPECT_EQ(after.value(1).toString().toStdString(), token);
	ASSERT_EQ(evaluate(main, QStringLiteral("window.__sameDocument === true")), true) << "the page was reloaded";
	EXPECT_GE(after.value(2).toInt(), 2);

	// A reload starts with the new token.
	main->reload();
	ASSERT_TRUE(waitUntil([&] { return globals().value(2).toInt() == 1; }, kPageLoad));
	EXPECT_EQ(globals().value(0).toString().toStdString(), token);
}

TEST_F(PageContractTest, ChatPageReceivesSimulatedEventsThroughTheEventProxy)
{
	QWebEngineView *chat = view("vorn-zorva-chat-dock");
	ASSERT_NE(chat, nullptr);
	ASSERT_TRUE(waitForSettledPage(chat));
	// The chat page has the event proxy address, its socket is open and the
	// history has arrived: an event published before that would come twice,
	// live and again in the history.
	ASSERT_TRUE(waitUntil(
		[&] {
			return chat->url().toString().contains(QStringLiteral("vornurl=ws://127.0.0.1:44423?token=")) &&
			       evaluate(chat, QStringLiteral("document.getElementById('state').textContent")) ==
				       "live" &&
			       evaluate(chat, QStringLiteral("document.documentElement.dataset.history")) == "received";
		},
		kPageLoad));

	const json result = vendorRequest(
		{{"id", "1"},
		 {"method", "simulateEvent"},
		 {"params", {{"type", "chat"}, {"username", "probe_user"}, {"chatMessage", "probe <42>"}}}});
	EXPECT_EQ(result["chatMessage"], "probe <42>");
	ASSERT_TRUE(waitUntil(
		[&] {
			return evaluate(chat, QStringLiteral("document.getElementById('feed').textContent"))
				.toString()
				.contains(QStringLiteral("probe_user probe <42>"));
		},
		10s));
	// Shown as text, not markup.
	EXPECT_EQ(evaluate(chat, QStringLiteral("document.querySelectorAll('#feed li b').length")).toInt(), 1)
		<< evaluate(chat, QStringLiteral("document.getElementById('feed').innerHTML")).toString().toStdString();
}

TEST_F(PageContractTest, LoginResultPageRendersInChromium)
{
	const json login = vendorRequest({{"id", "1"}, {"method", "authenticate"}});
	ASSERT_EQ(login["opened"], true);
	const QString state = QUrlQuery(browser->openedUrls()[0]).queryItemValue(QStringLiteral("state"));
	const QString picture = fresh.scratch.filePath(QStringLiteral("result.png"));

	// Debian's Chromium, headless, as root: no sandbox, and nothing that would
	// reach for the network.
	QProcess chromium;
	chromium.setProcessChannelMode(QProcess::MergedChannels);
	chromium.start(QStringLiteral("chromium"),
		       {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"),
			QStringLiteral("--disable-quic"), QStringLiteral("--no-first-run"),
			QStringLiteral("--disable-background-networking"), QStringLiteral("--disable-component-update"),
			QStringLiteral("--disable-sync"),
			QStringLiteral("--user-data-dir=") + fresh.scratch.filePath(QStringLiteral("chromium")),
			QStringLiteral("--window-size=900,700"), QStringLiteral("--screenshot=") + picture,
			QStringLiteral("http://localhost:49231/callback?state=%1&code=sample-code").arg(state)});
	ASSERT_TRUE(chromium.waitForStarted(10000)) << "chromium is installed by scripts/setup";
	ASSERT_TRUE(waitUntil([&] { return chromium.state() == QProcess::NotRunning; }, 60s))
		<< chromium.readAll().toStdString();

	// Chromium's request reached the listener with the login's state.
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Vorn account callback accepted; exchanging token."), 1u);
	QImage image(picture);
	ASSERT_FALSE(image.isNull()) << chromium.readAll().toStdString();
	EXPECT_EQ(image.size(), QSize(900, 700));
	// Not blank: the page's text and icon draw more than a handful of colours.
	QSet<QRgb> colours;
	for (int y = 0; y < image.height(); y += 3) {
		for (int x = 0; x < image.width(); x += 3)
			colours.insert(image.pixel(x, y));
	}
	EXPECT_GT(colours.size(), 20);
}

TEST_F(PageContractTest, ALinkedSamplePlatformStreamsLiveEventsToTheChat)
{
	QWebEngineView *chat = view("vorn-zorva-chat-dock");
	ASSERT_NE(chat, nullptr);

	// The page starts the link; the sample platform page would send the
	// browser to the callback with a code naming the platform.
	const json link =
		vendorRequest({{"id", "1"}, {"method", "accounts.beginLogin"}, {"params", {{"platform", "kick"}}}});
	ASSERT_EQ(link["opened"], true) << link;
	ASSERT_EQ(browser->openedUrls().size(), 1);
	const QUrl signIn = browser->openedUrls()[0];
	EXPECT_EQ(signIn.path(), "/platform-sign-in");
	const QString state = QUrlQuery(signIn).queryItemValue(QStringLiteral("state"));
	EXPECT_TRUE(
		callbackGet(QStringLiteral("/callback?state=%1&code=vc.KICK.abc123").arg(state)).contains("200 OK"));

	// Exchange and identity over TLS, then the realtime connection signs in
	// and the sample Vek's events reach the chat page.
	ASSERT_TRUE(waitUntil(
		[&] {
			const json accounts = vendorRequest({{"id", "2"}, {"method", "accounts.list"}})["accounts"];
			return accounts.size() == 1 && accounts[0].value("username", "") == "kick_streamer";
		},
		10s));
	ASSERT_TRUE(waitUntil(
		[&] {
			return evaluate(chat, QStringLiteral(
						      "Number((document.body && document.body.dataset.received) || 0)"))
				       .toInt() >= 2;
		},
		kPageLoad));
}
