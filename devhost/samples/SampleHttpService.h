#pragma once

// A sample remote service on loopback for the development host: one HTTP
// server whose requests go to one function, with small helpers for answers.

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QString>

class SampleHttpService : public QAbstractHttpServer {
	Q_OBJECT

public:
	using Status = QHttpServerResponder::StatusCode;

	explicit SampleHttpService(QObject *parent = nullptr);

	// Listens on 127.0.0.1; false (with a log line) when the port is taken.
	bool start(quint16 port, const char *name);

protected:
	virtual void serve(const QHttpServerRequest &request, QHttpServerResponder &responder) = 0;

	static void sendJson(QHttpServerResponder &responder, const QByteArray &json, Status status = Status::Ok);
	static void sendHtml(QHttpServerResponder &responder, const QString &html, Status status = Status::Ok);
	static void redirect(QHttpServerResponder &responder, const QString &location);
	static QString htmlEscaped(const QString &text);
	// A complete small page in the samples' look.
	static QString page(const QString &title, const QString &body);

private:
	bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
	void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;
};
