#pragma once

// A WebSocket client for tests, built on the project's own frame coding:
// connects, upgrades, sends masked frames and collects what arrives.

#include "websocket/ReceiveBuffer.h"
#include "websocket/WebSocketFrame.h"

#include <chrono>
#include <string>
#include <vector>

#include <QByteArray>
#include <QObject>
#include <QTcpSocket>

class TestWebSocketClient : public QObject {
	Q_OBJECT

public:
	explicit TestWebSocketClient(QObject *parent = nullptr);

	// Connects and sends the upgrade request for the target ("/?token=...");
	// extra header lines end in CRLF each.
	bool open(quint16 port, const QString &target, bool withKey = true, const QByteArray &extraHeaders = {});
	// Waits for the server's answer to the upgrade.
	bool waitForUpgrade(std::chrono::milliseconds timeout = std::chrono::seconds(5));
	bool upgraded() const { return accepted; }

	void sendText(const std::string &text);
	void sendFrame(uint8_t opcode, const std::string &payload, bool fin = true);
	void sendRaw(const QByteArray &bytes);
	// Hands what waits to be sent to the kernel now, as far as it takes it,
	// without running the event loop.
	void flush() { socket.flush(); }

	bool waitForMessages(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5));
	// Behaves like a page that hangs: takes at most a few KiB more from the
	// kernel and reads nothing after that.
	void stopReading();
	void resumeReading();
	// Takes in what the kernel holds for this socket, waiting up to `wait`
	// for something to arrive, without running the event loop.
	void readArrived(std::chrono::milliseconds wait = std::chrono::milliseconds(0));
	// Drops the connection as a crashed peer does: the server is sent a reset.
	void reset();
	quint16 localPort() const { return socket.localPort(); }
	bool waitForClose(std::chrono::milliseconds timeout = std::chrono::seconds(5));
	bool isClosed() const { return socket.state() == QAbstractSocket::UnconnectedState; }

	const std::vector<std::string> &texts() const { return received; }
	const std::vector<WebSocketFrame> &controlFrames() const { return control; }
	// Status code of the first close frame received, or -1 (none, or no code).
	int closeCode() const;
	const QByteArray &upgradeResponse() const { return head; }

private:
	void onReadyRead();

	QTcpSocket socket;
	std::string key;
	QByteArray head;
	bool accepted = false;
	bool answered = false;
	ReceiveBuffer buffer;
	FragmentState fragments;
	std::vector<std::string> received;
	std::vector<WebSocketFrame> control;
};
