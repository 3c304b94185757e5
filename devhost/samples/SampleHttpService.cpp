#include "SampleHttpService.h"

#include <obs.h>

SampleHttpService::SampleHttpService(QObject *parent) : QObject(parent)
{
	server.routeOthers([this](const Request &request) { return serve(request); });
}

void SampleHttpService::useTls(const QSslConfiguration &configuration)
{
	tls = true;
	tlsConfiguration = configuration;
}

bool SampleHttpService::start(quint16 port, const char *name)
{
	if (!(tls ? server.listenTls(tlsConfiguration, port) : server.listen(port))) {
		blog(LOG_WARNING, "[devhost] %s could not listen on 127.0.0.1:%u", name, unsigned(port));
		return false;
	}
	blog(LOG_INFO, "[devhost] %s on 127.0.0.1:%u", name, unsigned(port));
	return true;
}

SampleHttpService::Response SampleHttpService::send(const QByteArray &body, const QByteArray &contentType,
						    Status status)
{
	Response response;
	response.status = status;
	response.body = body;
	response.contentType = contentType;
	response.headers = {{"Cache-Control", "no-store"}};
	return response;
}

SampleHttpService::Response SampleHttpService::sendJson(const QByteArray &json, Status status)
{
	return send(json, "application/json", status);
}

SampleHttpService::Response SampleHttpService::sendHtml(const QString &html, Status status)
{
	return send(html.toUtf8(), "text/html; charset=utf-8", status);
}

SampleHttpService::Response SampleHttpService::redirect(const QString &location)
{
	Response response = send(QByteArray(), QByteArray(), Found);
	response.headers.append({"Location", location.toUtf8()});
	return response;
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
