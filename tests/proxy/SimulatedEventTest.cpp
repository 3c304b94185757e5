// Simulated events: exact payloads, errors and publication.

#include "BuildConfig.h"
#include "LogCapture.h"
#include "ResultChecks.h"
#include "TestWebSocketClient.h"
#include "proxy/EventProxyServer.h"
#include "proxy/ProxyMessageRouting.h"
#include "proxy/SimulatedEvents.h"

#include <QDateTime>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

SimulatedEventSources sources(std::vector<int> picks = {})
{
	auto queue = std::make_shared<std::vector<int>>(std::move(picks));
	return {QStringLiteral("https://vorn.test/avatar.svg"), QStringLiteral("https://vorn.test"), [queue] {
			int pick = queue->empty() ? 0 : queue->front();
			if (!queue->empty())
				queue->erase(queue->begin());
			return pick;
		}};
}

json testUser(const std::string &platform, const std::string &name)
{
	return {{"id", "TEST_USER"},
		{"channel_id", "TEST_USER"},
		{"platform", platform},
		{"UPID", "TEST_USER;" + platform},
		{"username", name},
		{"displayname", name},
		{"badges", json::array()},
		{"roles", json::array()},
		{"color", "#ea4c4c"},
		{"image_link", "https://vorn.test/avatar.svg"},
		{"link", "https://vorn.test"},
		{"bio", ""},
		{"subscriber_count", -1},
		{"followers_count", -1}};
}

json streamer(const std::string &platform)
{
	return {{"id", "SYSTEM_USER"},
		{"channel_id", "SYSTEM_USER"},
		{"platform", platform},
		{"UPID", "SYSTEM_USER;" + platform}};
}

void expectTimestamp(const json &event)
{
	const QString stamp = QString::fromStdString(event["timestamp"].get<std::string>());
	EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$"))
			    .match(stamp)
			    .hasMatch())
		<< stamp.toStdString();
	EXPECT_LT(std::abs(QDateTime::fromString(stamp, Qt::ISODateWithMs).secsTo(QDateTime::currentDateTimeUtc())), 5);
}

} // namespace

TEST(SimulatedEvents, PaddedChatOnTwitch)
{
	SimulatedEvent simulated =
		valueOf(buildSimulatedEvent(QStringLiteral(" CHAT "), QStringLiteral(" twitch "), QString(),
					    QStringLiteral("<b>hi</b> & \"you\""), sources()));
	EXPECT_EQ(simulated.summary,
		  json({{"type", "chat"}, {"platform", "twitch"}, {"chatMessage", "<b>hi</b> & \"you\""}}));
	EXPECT_EQ(simulated.upid, "SYSTEM_USER;TWITCH");
	json event = simulated.event;
	expectTimestamp(event);
	event.erase("timestamp");
	const std::string message = "<b>hi</b> & \"you\"";
	const std::string html = "<span data-rich-type='text'>&lt;b&gt;hi&lt;/b&gt; &amp; &quot;you&quot;</span>";
	EXPECT_EQ(event, json({{"event_type", "RICH_MESSAGE"},
			       {"streamer", streamer("TWITCH")},
			       {"sender", testUser("TWITCH", "VornStudioFan")},
			       {"raw", message},
			       {"html", html},
			       {"fragments",
				json::array({{{"type", "TEXT"}, {"text", message}, {"raw", message}, {"html", html}}})},
			       {"attachments", json::array()},
			       {"attributes", json::array()},
			       {"donations", json::array()},
			       {"upvotes", 0},
			       {"is_visible", true}}));
	EXPECT_TRUE(event["upvotes"].is_number_integer());
}

TEST(SimulatedEvents, RandomPicksChooseAmongTheFour)
{
	const SimulatedEvent chat = valueOf(buildSimulatedEvent(QStringLiteral("rich_message"), QString(),
								QStringLiteral("  "), QString(), sources({2, 3})));
	EXPECT_EQ(chat.upid, "SYSTEM_USER;KICK");
	EXPECT_EQ(chat.summary, json({{"type", "rich_message"}, {"platform", "kick"}}));
	EXPECT_EQ(chat.event["raw"], "Vorn Studio looks awesome, Zorva is dialed in, and the streamer is crushing it.");
	EXPECT_EQ(chat.event["sender"]["username"], "VornStudioFan");
	for (int i = 0; i < 200; ++i)
		EXPECT_LT(unsigned(randomPickOfFour()), 4u);
}

TEST(SimulatedEvents, RaidFollowSubscription)
{
	SimulatedEvent raid = valueOf(buildSimulatedEvent(QStringLiteral("Raid"), QStringLiteral("youtube"),
							  QStringLiteral(" zoe "), QString(), sources()));
	EXPECT_EQ(raid.summary, json({{"type", "raid"}, {"platform", "youtube"}, {"username", "zoe"}}));
	raid.event.erase("timestamp");
	EXPECT_EQ(raid.event, json({{"event_type", "RAID"},
				    {"streamer", streamer("YOUTUBE")},
				    {"host", testUser("YOUTUBE", "zoe")},
				    {"viewers", 12}}));

	SimulatedEvent follow = valueOf(buildSimulatedEvent(QStringLiteral("follow"), QStringLiteral("TIKTOK"),
							    QString(), QString(), sources()));
	follow.event.erase("timestamp");
	EXPECT_EQ(follow.event, json({{"event_type", "FOLLOW"},
				      {"streamer", streamer("TIKTOK")},
				      {"follower", testUser("TIKTOK", "VornStudioFan")}}));

	for (const char *kind : {"subscribe", "subscription", "SUB"}) {
		SimulatedEvent sub = valueOf(buildSimulatedEvent(QString::fromLatin1(kind), QStringLiteral("kick"),
								 QString(), QString(), sources()));
		sub.event.erase("timestamp");
		EXPECT_EQ(sub.event, json({{"event_type", "SUBSCRIPTION"},
					   {"streamer", streamer("KICK")},
					   {"subscriber", testUser("KICK", "VornStudioFan")},
					   {"sub_type", "SUB"},
					   {"sub_level", "TIER_1"},
					   {"months", 1},
					   {"months_streak", 1},
					   {"months_purchased", 1},
					   {"gift_recipient", nullptr}}))
			<< kind;
	}
}

TEST(SimulatedEvents, Errors)
{
	EXPECT_EQ(failureText(buildSimulatedEvent(QStringLiteral("  "), QString(), QString(), QString(), sources())),
		  "INVALID_PARAMS: simulateEvent requires a non-empty 'type' parameter.");
	EXPECT_EQ(failureText(buildSimulatedEvent(QStringLiteral("follow"), QStringLiteral("myspace"), QString(),
						  QString(), sources())),
		  "INVALID_PARAMS: simulateEvent platform must be one of: youtube, twitch, kick, tiktok.");
	EXPECT_EQ(failureText(
			  buildSimulatedEvent(QStringLiteral("Donation"), QString(), QString(), QString(), sources())),
		  "INVALID_PARAMS: Unsupported simulated event type: donation");
}

TEST(SimulatedEvents, PublishedUnderTheStreamerAndReplayed)
{
	LogCapture::instance().install();
	LogCapture::instance().setEcho(false);
	EventProxyServer::Options options;
	options.port = 0;
	EventProxyServer proxy(options);
	quint16 port = 0;
	QObject::connect(&proxy, &EventProxyServer::started, [&](quint16 p, std::string) { port = p; });
	proxy.start();
	TestWebSocketClient client;
	ASSERT_TRUE(client.open(port, QStringLiteral("/")));
	ASSERT_TRUE(client.waitForUpgrade());

	EXPECT_EQ(failureText(proxy.simulateEvent(QStringLiteral("donation"))),
		  "INVALID_PARAMS: Unsupported simulated event type: donation");
	const json result = valueOf(proxy.simulateEvent(QStringLiteral("chat"), QStringLiteral("kick"),
							QStringLiteral("ann"), QStringLiteral("hello")));
	EXPECT_EQ(result,
		  json({{"type", "chat"}, {"platform", "kick"}, {"username", "ann"}, {"chatMessage", "hello"}}));
	ASSERT_TRUE(client.waitForMessages(1));
	const json event = json::parse(client.texts()[0]);
	EXPECT_EQ(event["event_type"], "RICH_MESSAGE");
	EXPECT_EQ(event["sender"]["image_link"], ZORVA_AVATAR_URL);
	EXPECT_EQ(event["sender"]["link"], ZORVA_SITE_URL);

	client.sendText(R"({"payload":{"type":"X_INIT"}})");
	ASSERT_TRUE(client.waitForMessages(3));
	EXPECT_EQ(json::parse(client.texts()[1])["data"], json::array({json::array({event})}));
}

TEST(ProxyMessageRouting, Decisions)
{
	using Action = ProxyRoute::Action;
	EXPECT_EQ(routeProxyMessage("[1,2]", true).action, Action::InvalidJson);
	EXPECT_EQ(routeProxyMessage(R"({"payload":"x","upid":5})", true).action, Action::Malformed);
	EXPECT_EQ(routeProxyMessage(R"({"payload":{"type":"X_INIT"}})", false).action, Action::SendInitialState);
	EXPECT_EQ(routeProxyMessage(R"({"payload":{"type":"X_LOG"}})", false).action, Action::Ignore);
	EXPECT_EQ(routeProxyMessage(R"({"payload":{"type":"X_SHOW_SETTINGS"}})", false).action,
		  Action::DropUnauthenticated);
	const ProxyRoute settings = routeProxyMessage(R"({"payload":{"type":"X_SHOW_SETTINGS","page":7}})", true);
	EXPECT_EQ(settings.action, Action::ShowSettings);
	EXPECT_EQ(settings.page, "");
	EXPECT_EQ(routeProxyMessage(R"({"upid":"u","payload":{"type":"X_REQUEST"}})", true).action, Action::VekRequest);
	EXPECT_EQ(routeProxyMessage(R"({"upid":"u","forVek":true,"payload":{"a":1}})", true).action,
		  Action::VekPassthrough);
	EXPECT_EQ(routeProxyMessage(R"({"upid":"u","forVek":1,"payload":{"a":1}})", true).action, Action::Publish);
	EXPECT_EQ(routeProxyMessage(R"({"upid":"u","forVek":false,"payload":{"a":1}})", true).action, Action::Publish);
	const ProxyRoute empty = routeProxyMessage(R"({"upid":"u","payload":{}})", true);
	EXPECT_EQ(empty.action, Action::Malformed);
	EXPECT_TRUE(empty.payloadEmpty);
}
