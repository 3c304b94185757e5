#pragma once

// The event proxy over real sockets on loopback, with test WebSocket clients:
// the fixture its tests share.

#include "EventLoopWait.h"
#include "LogCapture.h"
#include "TestWebSocketClient.h"
#include "proxy/EventProxyServer.h"

#include <QCoreApplication>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <linux/sockios.h>
#include <sys/ioctl.h>

inline json parsed(const std::string &text)
{
	return json::parse(text);
}

class EventProxyTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		LogCapture::instance().install();
		LogCapture::instance().setEcho(false);
		options.port = 0; // any free port: these tests run side by side
		options.maxUnprocessedFrameBytes = 1024 * 1024;
		options.maxUnsentBytesPerClient = 1024 * 1024;
		// Long enough that only a client that stopped reading is ever closed,
		// however slowly the machine runs the readers.
		options.unsentGrace = std::chrono::hours(1);
		startProxy();
	}

	void startProxy()
	{
		proxy = std::make_unique<EventProxyServer>(options);
		QObject::connect(proxy.get(), &EventProxyServer::started, [this](quint16 p, std::string t) {
			port = p;
			token = t;
		});
		proxy->start();
		ASSERT_NE(port, 0);
	}

	std::unique_ptr<TestWebSocketClient> connectClient(bool authenticated = true)
	{
		auto client = std::make_unique<TestWebSocketClient>();
		const QString target = authenticated ? QStringLiteral("/?token=%1").arg(QString::fromStdString(token))
						     : QStringLiteral("/");
		EXPECT_TRUE(client->open(port, target));
		EXPECT_TRUE(client->waitForUpgrade());
		return client;
	}

	std::vector<json> historyOf(TestWebSocketClient &client)
	{
		const size_t before = client.texts().size();
		client.sendText(R"({"payload":{"type":"X_INIT"}})");
		EXPECT_TRUE(client.waitForMessages(before + 2));
		const json history = parsed(client.texts().at(before));
		EXPECT_EQ(history["event_type"], "X_HISTORY");
		EXPECT_EQ(parsed(client.texts().at(before + 1)),
			  json({{"data", {"X_LINK"}}, {"event_type", "X_FEATURES"}}));
		return history["data"].get<std::vector<json>>();
	}

	// Published and handed to the pages' sockets at once, as the end of the
	// event loop's turn would, without running the loop.
	void publishNow(const std::string &upid, const json &event)
	{
		proxy->publishRawEvent(upid, event);
		QCoreApplication::sendPostedEvents(proxy.get(), QEvent::MetaCall);
	}

	EventProxyServer::Options options;
	std::unique_ptr<EventProxyServer> proxy;
	quint16 port = 0;
	std::string token;
};

inline size_t closingLines()
{
	return LogCapture::instance().count("[vorn-zorva] Event proxy closing client");
}

inline void expectInOrder(const TestWebSocketClient &client, int count)
{
	ASSERT_EQ(client.texts().size(), size_t(count));
	for (int i = 0; i < count; ++i)
		ASSERT_EQ(parsed(client.texts()[size_t(i)])["n"], i);
}

// Bytes the kernel holds unsent on a socket.
inline int kernelUnsent(QTcpSocket &socket)
{
	int unsent = 0;
	return ioctl(int(socket.socketDescriptor()), SIOCOUTQ, &unsent) == 0 ? unsent : -1;
}
