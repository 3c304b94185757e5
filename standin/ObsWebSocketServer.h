#pragma once

#include "ObsWebSocketStandin.h"

#include "websocket/ReceiveBuffer.h"
#include "websocket/WebSocketFrame.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include <QObject>
#include <QString>
#include <QtGlobal>

#include <nlohmann/json.hpp>

class QTcpServer;
class QTcpSocket;

// obs-websocket's network protocol 5 (JSON only) in front of the stand-in's
// vendor API, so that real obs-websocket clients can call the module and
// receive its vendor events. Lives on the UI thread; vendor callbacks still
// run on threads of their own, and their answers come back queued.
class ObsWebSocketServer : public QObject {
	Q_OBJECT

public:
	// What obs-websocket keeps in its config.json.
	struct Config {
		bool enabled = false;
		quint16 port = 4455;
		bool authRequired = false;
		QString password;
	};

	static constexpr const char *obsWebSocketVersion = "5.5.2";
	static constexpr int rpcVersion = 1;
	// Event subscription bits: obs-websocket's "All", every category that is
	// not high volume, includes Vendors.
	static constexpr uint32_t vendorsIntent = 1u << 9;
	static constexpr uint32_t allNonHighVolume = (1u << 11) - 1;

	// obs-websocket's config file under the user's config folder (the one the
	// module reads), or empty when libobs cannot name it.
	static QString configPath();
	// A missing or unreadable file, or one that is not a JSON object, gives
	// the defaults: a disabled server.
	static Config readConfig(const QString &path);
	// Writes the defaults a first start of obs-websocket would (enabled, port
	// 4455, authentication with a fresh 16-character password) unless the file
	// exists. False when it neither exists nor could be written.
	static bool ensureDefaultConfig(const QString &path);

	explicit ObsWebSocketServer(QObject *parent = nullptr);
	~ObsWebSocketServer() override;

	// Listens on 127.0.0.1 when the configuration enables the server; true
	// when listening.
	bool start(const Config &config);
	void stop();
	bool isListening() const;
	quint16 port() const;

private:
	struct Connection;
	class Endpoint;
	class Relay;

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
			  int code, const std::string &comment, const nlohmann::json &responseData = nullptr);
	// Ends the session with an obs-websocket close code; false, so that frame
	// processing stops.
	bool closeWith(Connection &connection, uint16_t code, const std::string &reason);

	Config config;
	std::string salt; // with a password: this run's, as obs-websocket keeps one per start
	QTcpServer *server = nullptr;
	std::map<uint64_t, std::shared_ptr<Connection>> connections;
	uint64_t nextId = 1;
	std::shared_ptr<Relay> relay;
};
