#pragma once

#include "SampleHttpService.h"

#include <QTimer>
#include <QWebSocket>

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
	// The certificate files of the throwaway authority's server certificate.
	SampleVekService(const QString &certificateFile, const QString &keyFile, QString signInPageUrl,
			 QObject *parent = nullptr);
	~SampleVekService() override;

	int eventIntervalMs = 1500;

protected:
	void serve(const QHttpServerRequest &request, QHttpServerResponder &responder) override;

private:
	struct Session {
		std::unique_ptr<QWebSocket> socket;
		QString platform;
		QString upid;
		QTimer events;
		int sent = 0;
	};

	void loginLink(const QString &platform, const QUrlQuery &query, QHttpServerResponder &responder);
	void exchange(const QUrlQuery &query, QHttpServerResponder &responder);
	void inspect(const QHttpServerRequest &request, QHttpServerResponder &responder);

	void acceptWebSockets();
	void onRealtimeText(Session *session, const QString &text);
	void sendNextEvent(Session *session);
	void dropSession(Session *session);

	QString signInPageUrl;
	std::vector<std::unique_ptr<Session>> sessions;
};
