#include "IdlePeers.h"

#include "FakeHttpServer.h"
#include "FakeVekRealtime.h"
#include "IdTokens.h"
#include "TestWebSocketClient.h"

#include <QJsonObject>

namespace {

const char kKeepAliveEcho[] = R"({"type":"KEEP_ALIVE"})";

// What the account service answers a refresh: a fresh token set for an hour.
FakeHttpServer::Response tokenResponse()
{
	const QJsonObject body{
		{QStringLiteral("token_type"), QStringLiteral("Bearer")},
		{QStringLiteral("access_token"), QString::fromLatin1(IdlePeers::issuedAccessToken)},
		{QStringLiteral("refresh_token"), QStringLiteral("bench-refresh-token")},
		{QStringLiteral("id_token"), makeIdToken({{QStringLiteral("sub"), QStringLiteral("bench-user")},
							  {QStringLiteral("email"), QStringLiteral("ann@example.test")},
							  {QStringLiteral("name"), QStringLiteral("Ann Example")}})},
		{QStringLiteral("expires_in"), 3600},
	};
	FakeHttpServer::Response response;
	response.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
	return response;
}

} // namespace

IdlePeers::IdlePeers()
{
	thread.setObjectName(QStringLiteral("bench-peers"));
	context = new QObject();
	context->moveToThread(&thread);
	QObject::connect(&thread, &QThread::finished, context, &QObject::deleteLater);
	thread.start();
}

IdlePeers::~IdlePeers()
{
	// Made on the peers thread, so they go there too.
	onPeers([this] {
		pages.clear();
		vek.reset();
		account.reset();
	});
	thread.quit();
	thread.wait();
}

void IdlePeers::onPeers(const std::function<void()> &work)
{
	QMetaObject::invokeMethod(context, work, Qt::BlockingQueuedConnection);
}

bool IdlePeers::startServices(quint16 vekPort, quint16 accountPort, int keepAliveIntervalMs)
{
	bool listening = false;
	onPeers([&] {
		vek = std::make_unique<FakeVekRealtime>();
		vek->keepAliveIntervalMs = keepAliveIntervalMs;
		account = std::make_unique<FakeHttpServer>();
		account->route("POST", QStringLiteral("/oauth2/token"), tokenResponse());
		listening = vek->listen(vekPort) && account->listen(accountPort);
	});
	return listening;
}

bool IdlePeers::openPages(int count, quint16 port, const QString &token)
{
	bool served = true;
	onPeers([&] {
		for (int i = 0; i < count && served; ++i) {
			pages.push_back(std::make_unique<TestWebSocketClient>());
			TestWebSocketClient &page = *pages.back();
			served = page.open(port, QStringLiteral("/?token=%1").arg(token)) && page.waitForUpgrade();
			if (served)
				page.sendText(R"({"payload":{"type":"X_INIT"}})");
			// The history, then the features.
			served = served && page.waitForMessages(2);
		}
	});
	return served;
}

IdlePeers::Figures IdlePeers::figures()
{
	Figures figures;
	onPeers([&] {
		if (vek) {
			figures.sessionsAccepted = int(vek->connections.size());
			for (const auto &connection : vek->connections) {
				const bool loggedIn = connection->upgraded && !connection->texts.empty() &&
						      connection->texts.front().find("\"LOGIN\"") != std::string::npos;
				figures.sessionsLoggedIn += loggedIn && !connection->ended ? 1 : 0;
				figures.keepAlivesSent += connection->keepAlivesSent;
				for (const std::string &text : connection->texts)
					figures.keepAliveEchoes += text == kKeepAliveEcho ? 1 : 0;
			}
		}
		for (const auto &page : pages) {
			figures.pagesOpen += page->isClosed() ? 0 : 1;
			figures.pageMessages += int(page->texts().size());
		}
	});
	return figures;
}
