#pragma once

#include "host/MetaTypes.h"

#include <string>

#include <QJsonArray>
#include <QObject>

class EventProxyServer;

// Owner of the live Vek connections, one per linked account. Lives on the
// module's worker thread.
class VekRuntime : public QObject {
	Q_OBJECT

public:
	explicit VekRuntime(QObject *parent = nullptr);
	~VekRuntime() override;

	void setEventProxy(EventProxyServer *proxy);

	// The snapshot last handed to syncIntegrations.
	const QJsonArray &integrations() const { return snapshot; }

Q_SIGNALS:
	void integrationLoggedOut(std::string upid);

public Q_SLOTS:
	void syncIntegrations(QJsonArray snapshot);
	void handleProxyRequest(std::string upid, nlohmann::json payload);
	void handleProxyPassthrough(std::string upid, nlohmann::json payload);
	void stop();

private:
	EventProxyServer *eventProxy = nullptr;
	QJsonArray snapshot;
};
