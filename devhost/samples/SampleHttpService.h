#pragma once

// A sample remote service on loopback for the development host: one HTTP
// server whose requests go to one function, with small helpers for answers.
//
// Qt's HTTP server API changed between the Qt versions the development host
// builds with (6.4 on Debian 12, 6.8 on trixie, 6.11 on sid): how a request
// reaches the server, how answers carry headers, how a server listens and
// takes TLS, and whether WebSocket upgrades need consent. This class hides
// all of it; the services below it are the same for every version.

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QSslConfiguration>
#include <QString>
#include <QtGlobal>

#include <initializer_list>
#include <optional>
#include <utility>

class QTcpServer;

class SampleHttpService : public QAbstractHttpServer {
	Q_OBJECT

public:
	using Status = QHttpServerResponder::StatusCode;

	explicit SampleHttpService(QObject *parent = nullptr);

	// Listens on 127.0.0.1, over TLS after useTls(); false (with a log line)
	// when the port is taken.
	bool start(quint16 port, const char *name);

protected:
	// Serves TLS with this configuration from the next start() on.
	void useTls(const QSslConfiguration &configuration);
	// Lets WebSocket upgrades on any path through to newWebSocketConnection.
	void acceptWebSocketUpgrades();

	virtual void serve(const QHttpServerRequest &request, QHttpServerResponder &responder) = 0;

	// Answers that are never cached: the services' state changes under them.
	static void send(QHttpServerResponder &responder, const QByteArray &body, const QByteArray &contentType,
			 Status status = Status::Ok);
	static void sendJson(QHttpServerResponder &responder, const QByteArray &json, Status status = Status::Ok);
	static void sendHtml(QHttpServerResponder &responder, const QString &html, Status status = Status::Ok);
	static void redirect(QHttpServerResponder &responder, const QString &location);
	static QString htmlEscaped(const QString &text);
	// A complete small page in the samples' look.
	static QString page(const QString &title, const QString &body);

private:
	using Headers = std::initializer_list<std::pair<QByteArray, QByteArray>>;

	static void write(QHttpServerResponder &responder, const QByteArray &body, Headers headers, Status status);
	QTcpServer *listeningServer(quint16 port);
	static bool isWebSocketUpgrade(const QHttpServerRequest &request);

#if QT_VERSION < QT_VERSION_CHECK(6, 5, 0)
	bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
	void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;
#else
	bool handleRequest(const QHttpServerRequest &request, QHttpServerResponder &responder) override;
#if QT_VERSION < QT_VERSION_CHECK(6, 8, 0)
	void missingHandler(const QHttpServerRequest &request, QHttpServerResponder &&responder) override;
#else
	void missingHandler(const QHttpServerRequest &request, QHttpServerResponder &responder) override;
#endif
#endif

	std::optional<QSslConfiguration> tls;
};
