#pragma once

#include "SampleHttpService.h"

#include <QTimer>
#include <QUrlQuery>
#include <QWebSocket>
#include <QWebSocketServer>

#include <memory>
#include <vector>

// Vek for the development host, over TLS on one port as the real service:
// the REST link flow (login link, code exchange, identity) and the realtime
// WebSocket, which greets with WELCOME, answers LOGIN and then streams
// plausible chat, follow, raid and stream status events. The login link
// leads to the sample platform sign-in page of the web application.
// Codes and tokens carry their platform, so the service keeps no state and
// accounts linked in an earlier run stay valid.
class SampleVekService : public SampleHttpService {
	Q_OBJECT

public:
	// Serves the throwaway authority's certificate.
	explicit SampleVekService(QString signInPageUrl, QObject *parent = nullptr);
	~SampleVekService() override;

	int eventIntervalMs = 1500;

protected:
	Response serve(const Request &request) override;

private:
	struct Session {
		std::unique_ptr<QWebSocket> socket;
		QString platform;
		QString upid;
		QTimer events;
		int sent = 0;
	};

	Response loginLink(const QString &platform, const QUrlQuery &query) const;
	static Response exchange(const QUrlQuery &query);
	static Response inspect(const Request &request);

	void acceptWebSockets();
	void onRealtimeText(Session *session, const QString &text);
	void sendNextEvent(Session *session);
	void dropSession(Session *session);

	QString signInPageUrl;
	// Answers the upgrades the HTTP server hands over.
	QWebSocketServer webSockets;
	std::vector<std::unique_ptr<Session>> sessions;
};
