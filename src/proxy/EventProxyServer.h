#pragma once

#include "proxy/PendingUpgrades.h"
#include "proxy/UpidHistory.h"
#include "values/MetaTypes.h"
#include "values/Result.h"
#include "values/ServiceEndpoints.h"

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QtGlobal>

class QTcpServer;
class QTcpSocket;
struct ClientState;
struct ProxyRoute;

// Loopback WebSocket server the dock pages connect to: relays every event of
// the linked accounts to every page, keeps a short history per account for
// pages that connect late, and carries the pages' requests to the runtime.
// Lives on the module's worker thread.
class EventProxyServer : public QObject {
	Q_OBJECT

public:
	struct Options {
		quint16 port = 44423;
		ServiceEndpoints endpoints;
		size_t maxUpgradeRequestBytes = 64 * 1024;
		size_t maxUnprocessedFrameBytes = 16 * 1024 * 1024;
		// Data a client has not taken yet. A client that still leaves more
		// than this of what it was sent unread after the grace period has
		// stopped reading and is closed; its requests for replies wait
		// while it is over the limit.
		qint64 maxUnsentBytesPerClient = 8 * 1024 * 1024;
		std::chrono::milliseconds unsentGrace{2000};
		// What a client may hold unsent at most, grace or not: twice the
		// largest message a page may send, so that one large frame never
		// closes a page that reads.
		qint64 maxUnsentBytesCeiling = 32 * 1024 * 1024;
		// Connections that have not finished their upgrade: each must
		// within this time, and at most this many wait at once.
		std::chrono::milliseconds upgradeDeadline{10000};
		size_t maxPendingUpgrades = 64;
		// Upgraded clients without the token: at most this many at once,
		// and none may hold an unfinished message larger than this.
		size_t maxReadOnlyClients = 128;
		size_t maxReadOnlyMessageBytes = 64 * 1024;
	};

	EventProxyServer();
	explicit EventProxyServer(Options options, QObject *parent = nullptr);
	~EventProxyServer() override;

	const std::string &accessToken() const { return token; }

Q_SIGNALS:
	void started(quint16 port, const std::string &token);
	void stopped();
	void vekRequest(const std::string &upid, const nlohmann::json &payload);
	void vekPassthrough(const std::string &upid, const nlohmann::json &payload);
	void showSettingsRequested(const std::string &page);

public Q_SLOTS:
	void start();
	void stop();
	// By reference: a Vek connection's rawEvent reaches this directly (same
	// thread), and a by-value parameter would copy the whole event.
	void publishRawEvent(const std::string &upid, const nlohmann::json &event);
	// An event already in compact text: relayed to every page and, with an
	// account, kept in its history under `eventType`.
	void publishEventText(const std::string &upid, std::string text, std::string_view eventType);
	void publishLogout(const std::string &upid);
	void publishResponse(std::string nonce, std::string response);
	// Publishes a sample event; its summary, or why there is none.
	Result<nlohmann::json> simulateEvent(QString type, QString platform = QString(), QString username = QString(),
					     QString chatMessage = QString());

private Q_SLOTS:
	void onNewConnection();
	void onReadyRead();
	void onClientDisconnected();
	void onClientBytesWritten();
	void onUpgradeDeadline();

private:
	class ClientEndpoint;

	bool runHandshake(QTcpSocket *socket, ClientState &client);
	bool admitReadOnlyClient();
	void rejectClient(QTcpSocket *socket, const char *reason);
	void closeWithAnswer(QTcpSocket *socket, std::string_view answer);
	void stopReadingFrom(QTcpSocket *socket);
	void readInput(QTcpSocket *socket, const std::shared_ptr<ClientState> &client);
	void runFrameProcessing(QTcpSocket *socket, const std::shared_ptr<ClientState> &client);
	void routeMessage(QTcpSocket *socket, ClientState &client, std::string &&text);
	void sendInitialState(QTcpSocket *socket, ClientState &client);
	void sendReply(QTcpSocket *socket, ClientState &client, const QByteArray &frame);
	enum class Audience { Everyone, AuthenticatedOnly };
	void broadcastText(const std::string &text, Audience audience = Audience::Everyone);
	void closeStalledClient(QTcpSocket *socket);
	void dropConnection(QTcpSocket *socket);
	void armUpgradeDeadline();
	void flushQueued();
	void scheduleFlush();
	void flushClients();

	Options options;
	QTcpServer *server = nullptr;
	QHash<QTcpSocket *, std::shared_ptr<ClientState>> clients;
	PendingUpgrades pendingUpgrades;
	QTimer upgradeDeadlineTimer;
	std::unordered_map<std::string, UpidHistory> histories;
	std::string token;
	// While a client's input is being handled, what it publishes is queued
	// for every page and written when it has all been handled.
	bool inInputBatch = false;
	// A flush of what was published outside input is posted to the event loop.
	bool flushScheduled = false;
	// Clients without the token are being refused: reported once a burst.
	bool readOnlyFull = false;
};
