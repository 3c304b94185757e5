#include "proxy/PendingUpgrades.h"

#include <algorithm>

PendingUpgrades::Added PendingUpgrades::add(QTcpSocket *socket, Clock::time_point now)
{
	Added added;
	if (maxPending > 0 && waiting.size() >= maxPending) {
		added.evicted = waiting.front().socket;
		waiting.pop_front();
		added.burstStarted = !overflowing;
		overflowing = true;
	}
	waiting.push_back({socket, now + timeAllowed});
	return added;
}

void PendingUpgrades::remove(QTcpSocket *socket)
{
	const auto found = std::find_if(waiting.begin(), waiting.end(),
					[socket](const Entry &entry) { return entry.socket == socket; });
	if (found != waiting.end())
		waiting.erase(found);
	if (waiting.size() < maxPending)
		overflowing = false;
}

std::vector<QTcpSocket *> PendingUpgrades::takeExpired(Clock::time_point now)
{
	std::vector<QTcpSocket *> expired;
	while (!waiting.empty() && waiting.front().deadline <= now) {
		expired.push_back(waiting.front().socket);
		waiting.pop_front();
	}
	if (waiting.size() < maxPending)
		overflowing = false;
	return expired;
}

std::optional<PendingUpgrades::Clock::time_point> PendingUpgrades::nextDeadline() const
{
	if (waiting.empty())
		return std::nullopt;
	return waiting.front().deadline;
}

void PendingUpgrades::clear()
{
	waiting.clear();
	overflowing = false;
}
