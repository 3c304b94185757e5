#pragma once

// A sample remote service on loopback for the development host: the
// project's loopback HTTP server, whose requests go to one function, with
// small helpers for answers.

#include "FakeHttpServer.h"

#include <QByteArray>
#include <QObject>
#include <QSslConfiguration>
#include <QString>

class SampleHttpService : public QObject {
	Q_OBJECT

public:
	using Request = FakeHttpServer::Request;
	using Response = FakeHttpServer::Response;
	enum Status { Ok = 200, Found = 302, BadRequest = 400, Unauthorized = 401, NotFound = 404 };

	explicit SampleHttpService(QObject *parent = nullptr);

	// Listens on 127.0.0.1, over TLS after useTls(); false (with a log line)
	// when the port is taken.
	bool start(quint16 port, const char *name);

protected:
	// Serves TLS with this configuration from the next start() on.
	void useTls(const QSslConfiguration &configuration);

	virtual Response serve(const Request &request) = 0;

	// Answers that are never cached: the services' state changes under them.
	static Response send(const QByteArray &body, const QByteArray &contentType, Status status = Ok);
	static Response sendJson(const QByteArray &json, Status status = Ok);
	static Response sendHtml(const QString &html, Status status = Ok);
	static Response redirect(const QString &location);
	static QString htmlEscaped(const QString &text);
	// A complete small page in the samples' look.
	static QString page(const QString &title, const QString &body);

	FakeHttpServer server;

private:
	bool tls = false;
	QSslConfiguration tlsConfiguration;
};
