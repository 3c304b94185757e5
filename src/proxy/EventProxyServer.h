#pragma once

#include "host/MetaTypes.h"

#include <string>

#include <QObject>
#include <QString>
#include <QtGlobal>

class QTcpServer;

// Loopback WebSocket server the dock pages connect to. Lives on the module's
// worker thread.
class EventProxyServer : public QObject {
	Q_OBJECT

public:
	static constexpr quint16 listenPort = 44423;

	explicit EventProxyServer(QObject *parent = nullptr);
	~EventProxyServer() override;

	const std::string &accessToken() const { return token; }

Q_SIGNALS:
	void started(quint16 port, std::string token);
	void stopped();
	void vekRequest(std::string upid, nlohmann::json payload);
	void vekPassthrough(std::string upid, nlohmann::json payload);
	void showSettingsRequested(std::string page);

public Q_SLOTS:
	void start();
	void stop();

private:
	static std::string generateToken();

	QTcpServer *server = nullptr;
	std::string token;
};
