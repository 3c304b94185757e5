#pragma once

// The module's peers in the idle measurement, on a thread of their own named
// "bench-peers", so that their work is never counted as the module's: Vek's
// realtime endpoint over TLS (sending keep-alives as the service does), the
// account service (answering the start-up token refresh) and the dock pages
// on the event proxy. Every call blocks until it ran on that thread.

#include <functional>
#include <memory>
#include <vector>

#include <QString>
#include <QThread>

class FakeHttpServer;
class FakeVekRealtime;
class TestWebSocketClient;

class IdlePeers {
public:
	struct Figures {
		int sessionsAccepted = 0; // TLS connections the fake Vek accepted so far
		int sessionsLoggedIn = 0; // upgraded, LOGIN received, still connected
		int keepAlivesSent = 0;
		int keepAliveEchoes = 0;
		int pagesOpen = 0;    // page clients still connected
		int pageMessages = 0; // messages the pages received
	};

	// What the account service issues on a refresh.
	static constexpr const char *issuedAccessToken = "bench-access-token";

	IdlePeers();
	~IdlePeers();

	// The fake services on the module's end-to-end ports; false when one of
	// the ports is taken.
	bool startServices(quint16 vekPort, quint16 accountPort, int keepAliveIntervalMs);
	// Pages that connect with the token, send "X_INIT" and wait for their
	// history and features; false when one is not served.
	bool openPages(int count, quint16 port, const QString &token);
	Figures figures();

private:
	void onPeers(const std::function<void()> &work);

	QThread thread;
	QObject *context = nullptr;
	std::unique_ptr<FakeVekRealtime> vek;
	std::unique_ptr<FakeHttpServer> account;
	std::vector<std::unique_ptr<TestWebSocketClient>> pages;
};
