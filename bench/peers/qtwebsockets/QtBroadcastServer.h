#pragma once

// The relay benchmark's peer on QtWebSockets: a broadcast server doing the
// event proxy's work. A text message {"upid": ..., "payload": {...}} from any
// client has its payload serialised once and sent to every connected client,
// the sender included, as QtWebSockets applications broadcast.

#include <QList>
#include <QObject>
#include <QWebSocketServer>

class QWebSocket;

class QtBroadcastServer : public QObject {
	Q_OBJECT

public:
	explicit QtBroadcastServer(QObject *parent = nullptr);

	bool listen();
	quint16 port() const { return server.serverPort(); }

private:
	void onNewConnection();
	void onTextMessage(const QString &message);
	void onDisconnected();

	QWebSocketServer server;
	QList<QWebSocket *> clients;
};
