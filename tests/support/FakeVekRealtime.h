#pragma once

// Vek's realtime endpoint on loopback over TLS: answers the WebSocket upgrade
// (or fails it on purpose), greets with WELCOME and records what clients send.
// Faults can be injected at every stage: in the TLS handshake, in the upgrade
// response and, through sendRaw and close, in the frame stream.

#include "TlsTcpServer.h"
#include "websocket/ReceiveBuffer.h"
#include "websocket/WebSocketFrame.h"

#include <memory>
#include <string>
#include <vector>

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QPointer>

class FakeVekRealtime : public QObject {
	Q_OBJECT

public:
	enum class Upgrade {
		Accept,
		WrongAcceptKey,
		Status200,
		EndlessHead,
		PartialHeadThenClose, // part of the 101 head, then a graceful close
		Silent,               // the request is read and never answered
	};
	// What a new connection meets first.
	enum class Tls {
		Handshake,             // a normal TLS handshake
		CloseAfterClientHello, // reads the ClientHello, then closes
		Silent,                // accepts TCP and never answers
	};

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
		Tls tls = Tls::Handshake;
		std::string clientHello; // raw bytes read when the handshake is not answered
		qint64 acceptedAtMs = 0; // on the fake's clock (elapsedMs)
		qint64 closedAtMs = -1;  // when the fake closed it, or -1
		bool ended = false;      // the TCP connection is gone
		int keepAlivesSent = 0;
	};

	explicit FakeVekRealtime(bool trustedCertificate = true, QObject *parent = nullptr);

	bool listen(quint16 port = 0);
	bool listen(const QHostAddress &address, quint16 port);
	quint16 port() const { return server.serverPort(); }

	Upgrade upgrade = Upgrade::Accept;
	bool welcome = true;        // send WELCOME right after the 101, in the same write
	bool splitResponse = false; // send the upgrade response in three pieces
	// Like the service, sends {"type":"KEEP_ALIVE"} on every upgraded
	// connection at this interval; 0: never.
	int keepAliveIntervalMs = 0;

	std::vector<std::unique_ptr<Connection>> connections;
	Connection &last() { return *connections.back(); }

	// Applies to connections accepted from now on.
	void setTls(Tls behaviour);

	void sendText(Connection &connection, const std::string &text);
	void sendFrame(Connection &connection, uint8_t opcode, const std::string &payload);
	void sendRaw(Connection &connection, const std::string &bytes);
	// Closes gracefully: what was written goes out first.
	void close(Connection &connection);
	// Milliseconds since the fake was made.
	qint64 elapsedMs() const { return clock.elapsed(); }

private:
	void onNewConnection();
	void onReadyRead(Connection *connection);
	void onRawBytes(Connection *connection);
	void answerUpgrade(Connection &connection);
	void startKeepAlives(Connection &connection);

	QElapsedTimer clock;
	Tls tls = Tls::Handshake;
	TlsTcpServer server;
};
