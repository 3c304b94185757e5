#pragma once

// A small HTTP/1.1 server on loopback standing in for a remote service:
// routes by method and path, records every request, replies with configured
// status, body and delay. The tests' fakes and the development host's sample
// services are both made of it: plain sockets, so that it builds the same
// with every Qt the development host builds with, and so that faults can be
// served byte by byte.

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
		QByteArray contentType = "application/json"; // empty: no Content-Type
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
	// Takes over a connection whose request is a WebSocket upgrade, with the
	// request still unread on the socket.
	using UpgradeHandler = std::function<void(QTcpSocket *)>;

	explicit FakeHttpServer(QObject *parent = nullptr);

	bool listen(quint16 port = 0);
	// Serves HTTPS with the configuration instead of plain HTTP.
	bool listenTls(const QSslConfiguration &configuration, quint16 port = 0);
	quint16 port() const { return server.serverPort(); }
	QString baseUrl() const;

	void route(const QByteArray &method, const QString &path, Handler handler);
	void route(const QByteArray &method, const QString &path, Response response);
	// Answers what no route matches; without one, 404.
	void routeOthers(Handler handler);
	// Hands WebSocket upgrade requests to the handler instead of answering them.
	void onWebSocketUpgrade(UpgradeHandler handler);
	// Sends the answers held so far.
	void releaseHeld();

	QList<Request> requests;
	// Connections accepted and not yet closed by either side.
	int openConnections() const { return liveConnections; }

private:
	void onNewConnection();
	void onReadyRead(QTcpSocket *socket);
	void handOver(QTcpSocket *socket);
	void respond(QTcpSocket *socket, const Response &response);

	QMap<QPair<QByteArray, QString>, Handler> routes;
	Handler others;
	UpgradeHandler upgrades;
	QHash<QTcpSocket *, QByteArray> buffers;
	QList<QPair<QPointer<QTcpSocket>, Response>> heldAnswers;
	bool tls = false;
	int liveConnections = 0;
	// Last: its sockets (its children) go first and still find the buffers.
	TlsTcpServer server;
};
