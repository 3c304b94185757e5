#include "proxy/UpidHistory.h"

void UpidHistory::record(std::string_view eventType, std::string eventText)
{
	std::optional<std::string> *slot = nullptr;
	if (eventType == "USER_UPDATE")
		slot = &userUpdate;
	else if (eventType == "STREAM_STATUS")
		slot = &streamStatus;
	else if (eventType == "VIEWER_COUNT")
		slot = &viewerCount;
	else if (eventType == "VIEWER_LIST")
		slot = &viewerList;
	else if (eventType == "ROOMSTATE")
		slot = &roomState;
	else if (eventType == "LIKE")
		slot = &like;

	if (slot) {
		*slot = std::move(eventText);
		return;
	}
	recentEvents.push_back(std::move(eventText));
	while (recentEvents.size() > maxRecentEvents)
		recentEvents.pop_front();
}

void UpidHistory::appendJsonArray(std::string &out) const
{
	out.push_back('[');
	bool first = true;
	auto append = [&out, &first](const std::string &event) {
		if (!first)
			out.push_back(',');
		out += event;
		first = false;
	};
	for (const auto *slot : {&userUpdate, &streamStatus, &viewerCount, &viewerList, &roomState, &like}) {
		if (*slot)
			append(**slot);
	}
	for (const std::string &event : recentEvents)
		append(event);
	out.push_back(']');
}
