#pragma once

#include <chrono>
#include <functional>

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTimer>

class QTcpSocket;

// The loopback HTTP listener that receives login callbacks from the browser
// on 127.0.0.1: it reads each connection's request head, hands a callback's
// state and code to the logins waiting for it and answers with the result
// page. Its time-out runs from the start of the latest login.
class CallbackListener : public QObject {
	Q_OBJECT

public:
	// Takes a callback's state and code; true when a pending login accepted them.
	using CodeHandler = std::function<bool(const QString &state, const QString &code)>;

	CallbackListener(quint16 port, std::chrono::milliseconds idleTimeout, QString iconUrl, CodeHandler handler,
			 QObject *parent = nullptr);
	~CallbackListener() override;

	// Listens unless it does already; false when the port cannot be had.
	bool listen();
	// The port listened on; 0 while closed.
	quint16 port() const { return server.serverPort(); }
	// (Re)starts the time-out.
	void startTimeout();
	// Stops listening and the time-out; connections already taken are still answered.
	void close();

Q_SIGNALS:
	// The time-out ran out; the listener no longer listens.
	void timedOut();

private:
	void onNewConnection();
	void onReadyRead(QTcpSocket *socket);
	void answer(QTcpSocket *socket, bool success, const QString &message);

	const quint16 listenPort;
	const QString iconUrl;
	const CodeHandler handler;
	// Bytes of connections whose request head is still incomplete. Declared
	// before the server: the server deletes the connections still open when
	// it is destroyed, and each removes itself from this table.
	QHash<QTcpSocket *, QByteArray> partialHeads;
	QTcpServer server;
	QTimer timeout;
};
