#include "proxy/SimulatedEvents.h"

#include "values/ErrorCodes.h"

#include <algorithm>
#include <array>

#include <QDateTime>
#include <QRandomGenerator>

namespace {

const std::array<const char *, 4> kPlatforms = {"TWITCH", "YOUTUBE", "KICK", "TIKTOK"};

const std::array<const char *, 4> kMessages = {
	"Vorn Studio and Zorva make this streamer look unstoppable.",
	"Zorva is popping off and this streamer is making Vorn Studio shine.",
	"This streamer plus Vorn Studio plus Zorva is an absurdly good combo.",
	"Vorn Studio looks awesome, Zorva is dialed in, and the streamer is crushing it.",
};

Failure invalidParams(const std::string &message)
{
	return Failure{QString::fromStdString(message), ErrorCodes::invalidParams};
}

std::string htmlEscaped(const std::string &text)
{
	std::string out;
	out.reserve(text.size());
	for (char c : text) {
		switch (c) {
		case '<':
			out += "&lt;";
			break;
		case '>':
			out += "&gt;";
			break;
		case '&':
			out += "&amp;";
			break;
		case '"':
			out += "&quot;";
			break;
		default:
			out.push_back(c);
		}
	}
	return out;
}

json streamerObject(const std::string &platform)
{
	return {{"id", "SYSTEM_USER"},
		{"channel_id", "SYSTEM_USER"},
		{"platform", platform},
		{"UPID", "SYSTEM_USER;" + platform}};
}

json testUserObject(const std::string &platform, const std::string &userName, const SimulatedEventSources &sources)
{
	return {{"id", "TEST_USER"},
		{"channel_id", "TEST_USER"},
		{"platform", platform},
		{"UPID", "TEST_USER;" + platform},
		{"username", userName},
		{"displayname", userName},
		{"badges", json::array()},
		{"roles", json::array()},
		{"color", "#ea4c4c"},
		{"image_link", sources.avatarUrl.toStdString()},
		{"link", sources.siteUrl.toStdString()},
		{"bio", ""},
		{"subscriber_count", -1},
		{"followers_count", -1}};
}

} // namespace

int randomPickOfFour()
{
	return int(QRandomGenerator::global()->generate() >> 30);
}

Result<SimulatedEvent> buildSimulatedEvent(const QString &type, const QString &platform, const QString &username,
					   const QString &chatMessage, const SimulatedEventSources &sources)
{
	const QString trimmedType = type.trimmed();
	if (trimmedType.isEmpty())
		return invalidParams("simulateEvent requires a non-empty 'type' parameter.");
	const std::string normalized = platform.trimmed().toUpper().toStdString();
	if (!normalized.empty() && std::find(kPlatforms.begin(), kPlatforms.end(), normalized) == kPlatforms.end())
		return invalidParams("simulateEvent platform must be one of: youtube, twitch, kick, tiktok.");
	const std::string kind = trimmedType.toLower().toStdString();
	const std::string timestamp = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString();
	const std::string eventPlatform = normalized.empty() ? kPlatforms[sources.pickOfFour()] : normalized;
	const std::string trimmedUser = username.trimmed().toStdString();
	const std::string userName = trimmedUser.empty() ? "VornStudioFan" : trimmedUser;
	const std::string trimmedMessage = chatMessage.trimmed().toStdString();
	const std::string message = trimmedMessage.empty() ? kMessages[sources.pickOfFour()] : trimmedMessage;

	json user = testUserObject(eventPlatform, userName, sources);
	json event = {{"streamer", streamerObject(eventPlatform)}, {"timestamp", timestamp}};
	if (kind == "chat" || kind == "rich_message") {
		const std::string html = "<span data-rich-type='text'>" + htmlEscaped(message) + "</span>";
		event["event_type"] = "RICH_MESSAGE";
		event["sender"] = std::move(user);
		event["raw"] = message;
		event["html"] = html;
		event["fragments"] =
			json::array({{{"type", "TEXT"}, {"text", message}, {"raw", message}, {"html", html}}});
		event["attachments"] = json::array();
		event["attributes"] = json::array();
		event["donations"] = json::array();
		event["upvotes"] = 0;
		event["is_visible"] = true;
	} else if (kind == "raid") {
		event["event_type"] = "RAID";
		event["host"] = std::move(user);
		event["viewers"] = 12;
	} else if (kind == "follow") {
		event["event_type"] = "FOLLOW";
		event["follower"] = std::move(user);
	} else if (kind == "subscribe" || kind == "subscription" || kind == "sub") {
		event["event_type"] = "SUBSCRIPTION";
		event["subscriber"] = std::move(user);
		event["sub_type"] = "SUB";
		event["sub_level"] = "TIER_1";
		event["months"] = 1;
		event["months_streak"] = 1;
		event["months_purchased"] = 1;
		event["gift_recipient"] = nullptr;
	} else {
		return invalidParams("Unsupported simulated event type: " + kind);
	}

	json summary = {{"type", kind}, {"platform", QString::fromStdString(eventPlatform).toLower().toStdString()}};
	if (!trimmedUser.empty())
		summary["username"] = trimmedUser;
	if (!trimmedMessage.empty())
		summary["chatMessage"] = trimmedMessage;
	return SimulatedEvent{std::move(summary), "SYSTEM_USER;" + eventPlatform, std::move(event)};
}
