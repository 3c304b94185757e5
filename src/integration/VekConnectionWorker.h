#pragma once

#include "integration/VekService.h"
#include "values/MetaTypes.h"
#include "websocket/ReceiveBuffer.h"
#include "websocket/WebSocketFrame.h"

#include <string>

#include <QList>
#include <QObject>
#include <QSslError>
#include <QSslSocket>
#include <QTimer>

// The live connection of one linked account: a TLS WebSocket to Vek's
// realtime endpoint that logs in with the account's token, echoes the
// keep-alives and reports events and token rejection. Lives on the module's
// worker thread.
class VekConnectionWorker : public QObject {
	Q_OBJECT

public:
	VekConnectionWorker(std::string platform, std::string token, std::string upid, std::string username,
			    VekService service, QObject *parent = nullptr);
	~VekConnectionWorker() override;

	void openConnection();
	void closeConnection();
	// Ends the connection for good before the worker is deleted: no
	// notification of the abort reaches the worker, so no retry is armed.
	void retire();
	void sendJson(const nlohmann::json &value);

	const std::string &currentToken() const { return token; }
	void setToken(std::string value) { token = std::move(value); }
	void setUsername(std::string value) { username = std::move(value); }
	const std::string &handshakeKeyInUse() const { return handshakeKey; }
	bool isOpen() const { return handshakeComplete; }
	bool retryPending() const { return reconnectTimer.isActive(); }

Q_SIGNALS:
	void rawEvent(const std::string &upid, const nlohmann::json &event);
	// Vek rejected `token`, the one this session logged in with.
	void loggedOut(const std::string &upid, const std::string &token);

private Q_SLOTS:
	void onEncrypted();
	void onReadyRead();
	void onDisconnected();
	void onSocketError(QAbstractSocket::SocketError error);
	void onSslErrors(QList<QSslError> errors);
	void processHandshake();
	void processFrames();
	void onTextMessageReceived(std::string message);
	void onSetupTimedOut();

private:
	class Endpoint;

	void resetSession();
	void scheduleRetryAfterFailedConnect();
	// Where a timed-out attempt stood: "connect", "tls", "upgrade" or "welcome".
	const char *setupStage() const;
	void closeGracefully();

	std::string platform;
	std::string token;
	std::string upid;
	std::string username;
	QSslSocket socket;
	QTimer reconnectTimer;
	// Runs from the start of an attempt until the service's first message: a
	// service that accepts the connection and then says nothing would
	// otherwise keep the account waiting for good.
	QTimer setupTimer;
	ReceiveBuffer receiveBuffer;
	FragmentState fragments;
	std::string handshakeKey;
	bool handshakeComplete = false;
	VekService service;
};
