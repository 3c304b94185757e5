#pragma once

#include <deque>
#include <optional>
#include <string>
#include <string_view>

// The latest events of one account, replayed to pages that connect late.
// Events are kept as the compact JSON text they were broadcast as, so a
// replay only concatenates.
struct UpidHistory {
	static constexpr size_t maxRecentEvents = 100;

	std::optional<std::string> userUpdate;   // "USER_UPDATE"
	std::optional<std::string> streamStatus; // "STREAM_STATUS"
	std::optional<std::string> viewerCount;  // "VIEWER_COUNT"
	std::optional<std::string> viewerList;   // "VIEWER_LIST"
	std::optional<std::string> roomState;    // "ROOMSTATE"
	std::optional<std::string> like;         // "LIKE"
	std::deque<std::string> recentEvents;    // everything else, oldest first

	// Keeps the event under its type: the latest of a single-slot type, or
	// one of the last 100 others.
	void record(std::string_view eventType, std::string eventText);

	// Appends this history as one JSON array: the set single slots in field
	// order, then the recent events.
	void appendJsonArray(std::string &out) const;
};
