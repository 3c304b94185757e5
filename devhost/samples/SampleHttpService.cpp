#include "SampleHttpService.h"

#include <QHostAddress>

#include <obs.h>

SampleHttpService::SampleHttpService(QObject *parent) : QAbstractHttpServer(parent) {}

bool SampleHttpService::start(quint16 port, const char *name)
{
	if (listen(QHostAddress::LocalHost, port) != port) {
		blog(LOG_WARNING, "[devhost] %s could not listen on 127.0.0.1:%u", name, unsigned(port));
		return false;
	}
	blog(LOG_INFO, "[devhost] %s on 127.0.0.1:%u", name, unsigned(port));
	return true;
}

bool SampleHttpService::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
	// WebSocket upgrades are answered by the server itself after this call
	// (newWebSocketConnection); writing a response here would come first.
	if (request.value("Upgrade").compare("websocket", Qt::CaseInsensitive) == 0)
		return true;
	QHttpServerResponder responder = makeResponder(request, socket);
	serve(request, responder);
	return true;
}

void SampleHttpService::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket)
{
	makeResponder(request, socket).write(Status::NotFound);
}

void SampleHttpService::sendJson(QHttpServerResponder &responder, const QByteArray &json, Status status)
{
	responder.write(json, {{"Content-Type", "application/json"}, {"Cache-Control", "no-store"}}, status);
}

void SampleHttpService::sendHtml(QHttpServerResponder &responder, const QString &html, Status status)
{
	responder.write(html.toUtf8(), {{"Content-Type", "text/html; charset=utf-8"}, {"Cache-Control", "no-store"}},
			status);
}

void SampleHttpService::redirect(QHttpServerResponder &responder, const QString &location)
{
	responder.write(QByteArray(), {{"Location", location.toUtf8()}, {"Cache-Control", "no-store"}}, Status::Found);
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
