#pragma once

// Vek's realtime endpoint on loopback over TLS: answers the WebSocket upgrade
// (or fails it on purpose), greets with WELCOME and records what clients send.

#include "TlsTcpServer.h"
#include "websocket/ReceiveBuffer.h"
#include "websocket/WebSocketFrame.h"

#include <memory>
#include <string>
#include <vector>

#include <QObject>
#include <QPointer>

class FakeVekRealtime : public QObject {
	Q_OBJECT

public:
	enum class Upgrade { Accept, WrongAcceptKey, Status200, EndlessHead };

	struct Connection {
		QPointer<QSslSocket> socket;
		ReceiveBuffer buffer;
		FragmentState fragments;
		std::string requestHead;
		std::string key;
		bool upgraded = false;
		std::vector<std::string> texts; // text messages from the client
		std::vector<WebSocketFrame> control;
		bool allFramesMasked = true;
	};

	explicit FakeVekRealtime(bool trustedCertificate = true, QObject *parent = nullptr);

	bool listen(quint16 port = 0);
	quint16 port() const { return server.serverPort(); }

	Upgrade upgrade = Upgrade::Accept;
	bool welcome = true;       // send WELCOME right after the 101, in the same write
	bool splitResponse = false; // send the upgrade response in three pieces

	std::vector<std::unique_ptr<Connection>> connections;
	Connection &last() { return *connections.back(); }

	void sendText(Connection &connection, const std::string &text);
	void sendFrame(Connection &connection, uint8_t opcode, const std::string &payload);

private:
	void onNewConnection();
	void onReadyRead(Connection *connection);
	void answerUpgrade(Connection &connection);

	TlsTcpServer server;
};
