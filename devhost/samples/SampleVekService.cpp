#include "SampleVekService.h"

#include "TlsTcpServer.h"

#include <algorithm>

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QUrlQuery>

#include <obs.h>

namespace {

const char *const kViewers[] = {"pixel_pam", "NightOwlNed", "glitchgoblin", "MossyMarta", "turbo_toast", "Quill"};
const char *const kMessages[] = {"hello from the sample chat!",
				 "that transition was smooth",
				 "what settings are you running?",
				 "GG",
				 "the new overlay looks great",
				 "first time here, love the vibe",
				 "can you show the docks again?",
				 "lol",
				 "hydrate check!",
				 "this is my favourite stream"};

QByteArray vekReply(const QJsonObject &data)
{
	return QJsonDocument(QJsonObject{{"errors", QJsonArray()}, {"data", data}}).toJson(QJsonDocument::Compact);
}

QByteArray vekError(const QString &message)
{
	return QJsonDocument(QJsonObject{{"errors", QJsonArray{message}}, {"data", QJsonObject()}})
		.toJson(QJsonDocument::Compact);
}

QString item(const QUrlQuery &query, const char *key)
{
	return query.queryItemValue(QString::fromLatin1(key), QUrl::FullyDecoded);
}

// Tokens carry their platform and UPID, so accounts linked in an earlier run
// stay valid after the development host restarts.
QString tokenFor(const QString &platform, const QString &upid)
{
	return QStringLiteral("vek-sample.%1.%2").arg(platform, upid);
}

QStringList tokenParts(const QString &token)
{
	const QStringList parts = token.split(QLatin1Char('.'));
	return parts.size() == 3 && parts[0] == QStringLiteral("vek-sample") ? parts : QStringList();
}

QJsonObject user(const QString &name, const QString &platform)
{
	return {{"id", name.toLower()},
		{"platform", platform},
		{"UPID", name.toLower() + QLatin1Char(';') + platform},
		{"username", name.toLower()},
		{"displayname", name},
		{"color", "#7bdff2"}};
}

} // namespace

SampleVekService::SampleVekService(QString signInPage, QObject *parent)
	: SampleHttpService(parent), signInPageUrl(std::move(signInPage)),
	  webSockets(QStringLiteral("sample Vek"), QWebSocketServer::NonSecureMode)
{
	useTls(ThrowawayTls::serverConfiguration());
	// The TLS is the HTTP server's: the WebSocket side reads the upgrade
	// request from the socket it is handed, once told there is something
	// to read.
	server.onWebSocketUpgrade([this](QTcpSocket *socket) {
		webSockets.handleConnection(socket);
		Q_EMIT socket->readyRead();
	});
	connect(&webSockets, &QWebSocketServer::newConnection, this, &SampleVekService::acceptWebSockets);
}

SampleVekService::~SampleVekService()
{
	// Closing the sockets below emits "disconnected": not for us to hear now.
	for (const auto &session : sessions)
		session->socket->disconnect(this);
}

SampleHttpService::Response SampleVekService::serve(const Request &request)
{
	const QString path = request.path();
	const QUrlQuery query = request.query();
	static const QString prefix = QStringLiteral("/v2/vek/auth/");
	if (path.startsWith(prefix) && path.endsWith(QStringLiteral("/redirect")))
		return loginLink(path.mid(prefix.size()).section(QLatin1Char('/'), 0, 0), query);
	if (path == QStringLiteral("/v2/vek/auth/exchange"))
		return exchange(query);
	if (path == QStringLiteral("/v2/vek/auth/inspect"))
		return inspect(request);
	if (path.startsWith(QStringLiteral("/v2/vek/")))
		// Requests the pages proxy through the module: an empty success.
		return sendJson(vekReply(QJsonObject()));
	return sendJson(vekError(QStringLiteral("Not found.")), NotFound);
}

SampleHttpService::Response SampleVekService::loginLink(const QString &platform, const QUrlQuery &query) const
{
	if (item(query, "state").isEmpty() || platform.isEmpty())
		return sendJson(vekError(QStringLiteral("platform and state are required.")), BadRequest);
	// The sign-in state carries the module's request state, which the
	// exchange must give back.
	const QString signInState = QStringLiteral("si.") + item(query, "state");
	const QString next =
		QStringLiteral("%1?platform=%2&state=%3")
			.arg(signInPageUrl, platform, QString::fromUtf8(QUrl::toPercentEncoding(signInState)));
	return sendJson(vekReply({{"action", "OPEN_LINK"}, {"next", next}}));
}

// The sign-in page hands out codes "vc.<PLATFORM>.<random>".
SampleHttpService::Response SampleVekService::exchange(const QUrlQuery &query)
{
	const QStringList code = item(query, "code").split(QLatin1Char('.'));
	if (code.size() != 3 || code[0] != QStringLiteral("vc") || code[1].isEmpty())
		return sendJson(vekError(QStringLiteral("Unknown code.")), BadRequest);
	const QString signInState = item(query, "state");
	if (!signInState.startsWith(QStringLiteral("si.")))
		return sendJson(vekError(QStringLiteral("Unknown state.")), BadRequest);
	const QString upid = QStringLiteral("%1-%2").arg(code[1].toLower(), code[2].left(8));
	return sendJson(vekReply({{"token", tokenFor(code[1], upid)}, {"state", signInState.mid(3)}}));
}

SampleHttpService::Response SampleVekService::inspect(const Request &request)
{
	const QByteArray authorization = request.headers.value("authorization");
	const QStringList parts =
		authorization.startsWith("Vek ") ? tokenParts(QString::fromUtf8(authorization.mid(4))) : QStringList();
	if (parts.isEmpty())
		return sendJson(vekError(QStringLiteral("Invalid authorization.")), Unauthorized);
	return sendJson(vekReply({{"UPID", parts[2]}, {"username", parts[1].toLower() + QStringLiteral("_streamer")}}));
}

void SampleVekService::acceptWebSockets()
{
	while (webSockets.hasPendingConnections()) {
		auto session = std::make_unique<Session>();
		session->socket.reset(webSockets.nextPendingConnection());
		Session *raw = session.get();
		connect(raw->socket.get(), &QWebSocket::textMessageReceived, this,
			[this, raw](const QString &text) { onRealtimeText(raw, text); });
		connect(raw->socket.get(), &QWebSocket::disconnected, this, [this, raw] { dropSession(raw); });
		connect(&raw->events, &QTimer::timeout, this, [this, raw] { sendNextEvent(raw); });
		raw->socket->sendTextMessage(QStringLiteral(R"({"type":"WELCOME"})"));
		sessions.push_back(std::move(session));
	}
}

void SampleVekService::onRealtimeText(Session *session, const QString &text)
{
	const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
	const QString type = message.value(QStringLiteral("type")).toString();
	if (type != QStringLiteral("LOGIN"))
		return; // KEEP_ALIVE answers and page passthrough need no reply here
	const QStringList parts = tokenParts(message.value(QStringLiteral("token")).toString());
	if (parts.isEmpty()) {
		session->socket->sendTextMessage(QStringLiteral(R"({"type":"ERROR","error":"USER_AUTH_INVALID"})"));
		return;
	}
	session->platform = parts[1];
	session->upid = parts[2];
	blog(LOG_INFO, "[devhost] sample Vek: %s signed in; streaming sample events", parts[2].toUtf8().constData());
	session->events.start(eventIntervalMs);
}

void SampleVekService::sendNextEvent(Session *session)
{
	const int n = session->sent++;
	auto *random = QRandomGenerator::global();
	const QString viewer = QString::fromUtf8(kViewers[random->bounded(int(std::size(kViewers)))]);
	QJsonObject event{{"streamer", QJsonObject{{"UPID", session->upid}, {"platform", session->platform}}},
			  {"timestamp", QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)}};
	if (n % 4 == 0) {
		event.insert("event_type", "STREAM_STATUS");
		event.insert("live", true);
		event.insert("title", "Sample stream: building overlays");
		event.insert("viewers", 40 + n + int(random->bounded(15)));
	} else if (n % 9 == 5) {
		event.insert("event_type", "FOLLOW");
		event.insert("follower", user(viewer, session->platform));
	} else if (n % 23 == 11) {
		event.insert("event_type", "RAID");
		event.insert("host", user(viewer, session->platform));
		event.insert("viewers", 5 + int(random->bounded(40)));
	} else {
		const QString text = QString::fromUtf8(kMessages[random->bounded(int(std::size(kMessages)))]);
		event.insert("event_type", "RICH_MESSAGE");
		event.insert("sender", user(viewer, session->platform));
		event.insert("raw", text);
		event.insert("html", QStringLiteral("<span data-rich-type='text'>%1</span>").arg(text.toHtmlEscaped()));
	}
	session->socket->sendTextMessage(QString::fromUtf8(
		QJsonDocument(QJsonObject{{"type", "EVENT"}, {"event", event}}).toJson(QJsonDocument::Compact)));
}

void SampleVekService::dropSession(Session *session)
{
	const auto it =
		std::find_if(sessions.begin(), sessions.end(), [session](const auto &s) { return s.get() == session; });
	if (it == sessions.end())
		return;
	std::unique_ptr<Session> owned = std::move(*it);
	sessions.erase(it);
	owned->events.stop();
	// Deleted later: the socket is still emitting the signal that got us here.
	owned->socket.release()->deleteLater();
}
