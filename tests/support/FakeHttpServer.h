#pragma once

// A small HTTP/1.1 server on loopback standing in for a remote service:
// routes by method and path, records every request, replies with configured
// status, body and delay.

#include <functional>

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>

#include "TlsTcpServer.h"
#include <QUrl>
#include <QUrlQuery>

class QTcpSocket;

class FakeHttpServer : public QObject {
	Q_OBJECT

public:
	struct Request {
		QByteArray method;
		QByteArray target;
		QMap<QByteArray, QByteArray> headers; // names in lower case
		QByteArray body;

		QString path() const;
		QUrlQuery query() const;
		// The body as form items, fully decoded.
		QList<std::pair<QString, QString>> formItems() const;
		QString formValue(const QString &key) const;
	};

	struct Response {
		int status = 200;
		QByteArray body = "{}";
		int delayMs = 0;
		QByteArray contentType = "application/json";
		// Faults: never answer (the connection stays open), or send only
		// the first cutAfterBytes bytes of the response and then close.
		bool hang = false;
		int cutAfterBytes = -1;
		// Kept until releaseHeld(), for a test to act while the client waits.
		bool held = false;
		// Further header lines, such as Set-Cookie.
		QList<std::pair<QByteArray, QByteArray>> headers = {};
	};

	using Handler = std::function<Response(const Request &)>;

	explicit FakeHttpServer(QObject *parent = nullptr);

	bool listen(quint16 port = 0);
	// Serves HTTPS with the configuration instead of plain HTTP.
	bool listenTls(const QSslConfiguration &configuration, quint16 port = 0);
	quint16 port() const { return server.serverPort(); }
	QString baseUrl() const;

	void route(const QByteArray &method, const QString &path, Handler handler);
	void route(const QByteArray &method, const QString &path, Response response);
	// Sends the answers held so far.
	void releaseHeld();

	QList<Request> requests;
	// Connections accepted and not yet closed by either side.
	int openConnections() const { return liveConnections; }

private:
	void onNewConnection();
	void onReadyRead(QTcpSocket *socket);
	void respond(QTcpSocket *socket, const Response &response);

	QMap<QPair<QByteArray, QString>, Handler> routes;
	QHash<QTcpSocket *, QByteArray> buffers;
	QList<QPair<QPointer<QTcpSocket>, Response>> heldAnswers;
	bool tls = false;
	int liveConnections = 0;
	// Last: its sockets (its children) go first and still find the buffers.
	TlsTcpServer server;
};
