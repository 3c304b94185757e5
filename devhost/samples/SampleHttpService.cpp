#include "SampleHttpService.h"

#include <QHostAddress>
#include <QSslServer>
#include <QTcpServer>
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
#include <QHttpHeaders>
#include <QHttpServerWebSocketUpgradeResponse>
#endif

#include <obs.h>

SampleHttpService::SampleHttpService(QObject *parent) : QAbstractHttpServer(parent) {}

void SampleHttpService::useTls(const QSslConfiguration &configuration)
{
	tls = configuration;
}

bool SampleHttpService::start(quint16 port, const char *name)
{
	QTcpServer *server = listeningServer(port);
	if (!server) {
		blog(LOG_WARNING, "[devhost] %s could not listen on 127.0.0.1:%u", name, unsigned(port));
		return false;
	}
	// Qt 6.8 dropped listen() and sslSetup(); bind() with a server of our own
	// works the same from 6.4 on. It fails only for a server that does not
	// listen, and it takes the server as a child.
	static_cast<void>(bind(server));
	blog(LOG_INFO, "[devhost] %s on 127.0.0.1:%u", name, unsigned(port));
	return true;
}

QTcpServer *SampleHttpService::listeningServer(quint16 port)
{
	QTcpServer *server = nullptr;
	if (tls) {
		// Hands connections on once their handshake is done.
		auto *sslServer = new QSslServer(this);
		sslServer->setSslConfiguration(*tls);
		server = sslServer;
	} else {
		server = new QTcpServer(this);
	}
	if (server->listen(QHostAddress::LocalHost, port))
		return server;
	delete server;
	return nullptr;
}

void SampleHttpService::acceptWebSocketUpgrades()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
	// From 6.8 on, Qt refuses an upgrade that no verifier accepts and never
	// shows it to handleRequest().
	addWebSocketUpgradeVerifier(
		this, [](const QHttpServerRequest &) { return QHttpServerWebSocketUpgradeResponse::accept(); });
#endif
}

// Before 6.8, Qt upgrades a WebSocket request itself (newWebSocketConnection)
// once handleRequest() returns true for it; an answer written there would go
// out first.
bool SampleHttpService::isWebSocketUpgrade(const QHttpServerRequest &request)
{
	return request.value("Upgrade").compare("websocket", Qt::CaseInsensitive) == 0;
}

#if QT_VERSION < QT_VERSION_CHECK(6, 5, 0)
bool SampleHttpService::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
	if (isWebSocketUpgrade(request))
		return true;
	QHttpServerResponder responder = makeResponder(request, socket);
	serve(request, responder);
	return true;
}

void SampleHttpService::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket)
{
	makeResponder(request, socket).write(Status::NotFound);
}
#else
bool SampleHttpService::handleRequest(const QHttpServerRequest &request, QHttpServerResponder &responder)
{
	if (!isWebSocketUpgrade(request))
		serve(request, responder);
	return true;
}

#if QT_VERSION < QT_VERSION_CHECK(6, 8, 0)
void SampleHttpService::missingHandler(const QHttpServerRequest &, QHttpServerResponder &&responder)
#else
void SampleHttpService::missingHandler(const QHttpServerRequest &, QHttpServerResponder &responder)
#endif
{
	responder.write(Status::NotFound);
}
#endif

void SampleHttpService::write(QHttpServerResponder &responder, const QByteArray &body, Headers headers, Status status)
{
#if QT_VERSION < QT_VERSION_CHECK(6, 8, 0)
	responder.write(body, headers, status);
#else
	QHttpHeaders fields;
	for (const auto &[name, value] : headers)
		fields.append(name, value);
	responder.write(body, fields, status);
#endif
}

void SampleHttpService::send(QHttpServerResponder &responder, const QByteArray &body, const QByteArray &contentType,
			     Status status)
{
	write(responder, body, {{"Content-Type", contentType}, {"Cache-Control", "no-store"}}, status);
}

void SampleHttpService::sendJson(QHttpServerResponder &responder, const QByteArray &json, Status status)
{
	send(responder, json, "application/json", status);
}

void SampleHttpService::sendHtml(QHttpServerResponder &responder, const QString &html, Status status)
{
	send(responder, html.toUtf8(), "text/html; charset=utf-8", status);
}

void SampleHttpService::redirect(QHttpServerResponder &responder, const QString &location)
{
	write(responder, QByteArray(), {{"Location", location.toUtf8()}, {"Cache-Control", "no-store"}}, Status::Found);
}

QString SampleHttpService::htmlEscaped(const QString &text)
{
	return text.toHtmlEscaped();
}

QString SampleHttpService::page(const QString &title, const QString &body)
{
	return QStringLiteral(
		       "<!doctype html><html><head><meta charset=\"utf-8\"><title>%1</title>"
		       "<meta name=\"viewport\" content=\"width=device-width\">"
		       "<style>body{font:15px system-ui,sans-serif;background:#14161c;color:#e8e8ee;margin:0;"
		       "display:flex;min-height:100vh;align-items:center;justify-content:center}"
		       "main{background:#1f2230;padding:28px 32px;border-radius:12px;max-width:420px}"
		       "h1{font-size:20px;margin:0 0 12px}a.button,button{display:inline-block;margin:14px 8px 0 0;"
		       "padding:9px 16px;border-radius:8px;border:0;background:#6c5ce7;color:#fff;"
		       "text-decoration:none;font:inherit;cursor:pointer}a.secondary{background:#3a3f55}"
		       "code{color:#a29bfe}</style></head><body><main><h1>%1</h1>%2</main></body></html>")
		.arg(htmlEscaped(title), body);
}
