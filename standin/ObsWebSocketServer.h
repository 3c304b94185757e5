#pragma once

#include "ObsWebSocketSettings.h"
#include "ObsWebSocketStandin.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include <QObject>
#include <QString>
#include <QtGlobal>

#include <nlohmann/json.hpp>

class QTcpServer;
class QueuedRelay;
class QTcpSocket;

// obs-websocket's network protocol 5 (JSON only) in front of the stand-in's
// vendor API, so that real obs-websocket clients can call the module and
// receive its vendor events. Lives on the UI thread; vendor callbacks still
// run on threads of their own, and their answers come back queued.
class ObsWebSocketServer : public QObject {
	Q_OBJECT

public:
	explicit ObsWebSocketServer(QObject *parent = nullptr);
	~ObsWebSocketServer() override;

	// Listens on 127.0.0.1 when the configuration enables the server; true
	// when listening.
	bool start(const ObsWebSocketSettings &config);
	void stop();
	bool isListening() const;
	quint16 port() const;

private:
	struct Connection;
	class Endpoint;

	void onNewConnection();
	void onReadyRead(const std::shared_ptr<Connection> &connection);
	void onDisconnected(uint64_t id);
	bool runUpgrade(Connection &connection);
	void rejectUpgrade(Connection &connection, const char *status, const char *reason);
	void runFrameProcessing(const std::shared_ptr<Connection> &connection);
	bool onMessage(Connection &connection, const std::string &text);
	bool onIdentify(Connection &connection, const nlohmann::json &data);
	bool onReidentify(Connection &connection, const nlohmann::json &data);
	bool onRequest(Connection &connection, const nlohmann::json &data);
	void callVendor(Connection &connection, const std::string &requestId, const nlohmann::json &requestData);
	void finishVendorRequest(uint64_t id, const std::string &requestId, const std::string &vendorName,
				 const std::string &vendorRequestType,
				 const ObsWebSocketStandin::VendorResponse &response);
	void relayVendorEvent(const ObsWebSocketStandin::Event &event);
	std::string expectedAuthentication(const Connection &connection) const;
	void sendHello(Connection &connection);
	void sendMessage(Connection &connection, int op, const nlohmann::json &data);
	void sendResponse(Connection &connection, const std::string &requestType, const std::string &requestId,
			  int code, const std::string &comment, const nlohmann::json &data = nullptr);
	// Ends the session with an obs-websocket close code; false, so that frame
	// processing stops.
	bool closeWith(Connection &connection, uint16_t code, const std::string &reason);

	ObsWebSocketSettings config;
	std::string salt; // with a password: this run's, as obs-websocket keeps one per start
	QTcpServer *server = nullptr;
	std::map<uint64_t, std::shared_ptr<Connection>> connections;
	uint64_t nextId = 1;
	std::shared_ptr<QueuedRelay> relay;
};
