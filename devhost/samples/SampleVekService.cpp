#include "SampleVekService.h"

#include <algorithm>

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
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

QSslConfiguration tlsConfiguration(const QString &certificateFile, const QString &keyFile)
{
	QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
	QFile certificate(certificateFile);
	QFile key(keyFile);
	if (certificate.open(QIODevice::ReadOnly) && key.open(QIODevice::ReadOnly)) {
		configuration.setLocalCertificate(QSslCertificate(certificate.readAll(), QSsl::Pem));
		configuration.setPrivateKey(QSslKey(key.readAll(), QSsl::Rsa, QSsl::Pem));
	}
	configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
	return configuration;
}

} // namespace

SampleVekService::SampleVekService(const QString &certificateFile, const QString &keyFile, QString signInPage,
				   QObject *parent)
	: SampleHttpService(parent), signInPageUrl(std::move(signInPage))
{
	useTls(tlsConfiguration(certificateFile, keyFile));
	acceptWebSocketUpgrades();
	connect(this, &QAbstractHttpServer::newWebSocketConnection, this, &SampleVekService::acceptWebSockets);
}

SampleVekService::~SampleVekService()
{
	// Closing the sockets below emits "disconnected": not for us to hear now.
	for (const auto &session : sessions)
		session->socket->disconnect(this);
}

void SampleVekService::serve(const QHttpServerRequest &request, QHttpServerResponder &responder)
{
	const QString path = request.url().path();
	const QUrlQuery query = request.query();
	static const QString prefix = QStringLiteral("/v2/vek/auth/");
	if (path.startsWith(prefix) && path.endsWith(QStringLiteral("/redirect")))
		loginLink(path.mid(prefix.size()).section(QLatin1Char('/'), 0, 0), query, responder);
	else if (path == QStringLiteral("/v2/vek/auth/exchange"))
		exchange(query, responder);
	else if (path == QStringLiteral("/v2/vek/auth/inspect"))
		inspect(request, responder);
	else if (path.startsWith(QStringLiteral("/v2/vek/")))
		// Requests the pages proxy through the module: an empty success.
		sendJson(responder, vekReply(QJsonObject()));
	else
		sendJson(responder, vekError(QStringLiteral("Not found.")), Status::NotFound);
}

void SampleVekService::loginLink(const QString &platform, const QUrlQuery &query, QHttpServerResponder &responder)
{
	if (item(query, "state").isEmpty() || platform.isEmpty()) {
		sendJson(responder, vekError(QStringLiteral("platform and state are required.")), Status::BadRequest);
		return;
	}
	// The sign-in state carries the module's request state, which the
	// exchange must give back.
	const QString signInState = QStringLiteral("si.") + item(query, "state");
	const QString next =
		QStringLiteral("%1?platform=%2&state=%3")
			.arg(signInPageUrl, platform, QString::fromUtf8(QUrl::toPercentEncoding(signInState)));
	sendJson(responder, vekReply({{"action", "OPEN_LINK"}, {"next", next}}));
}

// The sign-in page hands out codes "vc.<PLATFORM>.<random>".
void SampleVekService::exchange(const QUrlQuery &query, QHttpServerResponder &responder)
{
	const QStringList code = item(query, "code").split(QLatin1Char('.'));
	if (code.size() != 3 || code[0] != QStringLiteral("vc") || code[1].isEmpty()) {
		sendJson(responder, vekError(QStringLiteral("Unknown code.")), Status::BadRequest);
		return;
	}
	const QString signInState = item(query, "state");
	if (!signInState.startsWith(QStringLiteral("si."))) {
		sendJson(responder, vekError(QStringLiteral("Unknown state.")), Status::BadRequest);
		return;
	}
	const QString upid = QStringLiteral("%1-%2").arg(code[1].toLower(), code[2].left(8));
	sendJson(responder, vekReply({{"token", tokenFor(code[1], upid)}, {"state", signInState.mid(3)}}));
}

void SampleVekService::inspect(const QHttpServerRequest &request, QHttpServerResponder &responder)
{
	const QByteArray authorization = request.value("Authorization");
	const QStringList parts =
		authorization.startsWith("Vek ") ? tokenParts(QString::fromUtf8(authorization.mid(4))) : QStringList();
	if (parts.isEmpty()) {
		sendJson(responder, vekError(QStringLiteral("Invalid authorization.")), Status::Unauthorized);
		return;
	}
	sendJson(responder,
		 vekReply({{"UPID", parts[2]}, {"username", parts[1].toLower() + QStringLiteral("_streamer")}}));
}

void SampleVekService::acceptWebSockets()
{
	while (hasPendingWebSocketConnections()) {
		auto session = std::make_unique<Session>();
		session->socket = nextPendingWebSocketConnection();
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
