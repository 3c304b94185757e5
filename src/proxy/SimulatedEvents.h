#pragma once

#include "values/Json.h"
#include "values/Result.h"

#include <functional>
#include <string>

#include <QString>

// Sample chat, raid, follow and subscription events in the shape of Vek's,
// for exercising the pages without a live stream.
struct SimulatedEvent {
	json summary;     // what the caller gets
	std::string upid; // the streamer's UPID
	json event;       // what is published
};

struct SimulatedEventSources {
	QString avatarUrl; // default profile picture (SVG) of the test user
	QString siteUrl;   // link of the test user
	// One uniform pick among four (0 to 3).
	std::function<int()> pickOfFour;
};

// The event, or why there is none (a type or platform it cannot be).
Result<SimulatedEvent> buildSimulatedEvent(const QString &type, const QString &platform, const QString &username,
					   const QString &chatMessage, const SimulatedEventSources &sources);

// The top two bits of one 32-bit value of the process-wide generator.
int randomPickOfFour();
