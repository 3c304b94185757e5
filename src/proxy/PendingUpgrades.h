#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <vector>

class QTcpSocket;

// Connections of the event proxy that have not finished their WebSocket
// upgrade, oldest first. Each holds one of the host process's file
// descriptors, so they are kept few and short-lived: each has a deadline,
// and past the cap the oldest gives way to the newest, so that a page still
// gets in however many idle connections another process opens.
class PendingUpgrades {
public:
	using Clock = std::chrono::steady_clock;

	PendingUpgrades(size_t cap, std::chrono::milliseconds deadline) : maxPending(cap), timeAllowed(deadline) {}

	struct Added {
		// The oldest connection, which must give way, or null.
		QTcpSocket *evicted = nullptr;
		// True for the first eviction since the connections last fitted
		// under the cap: one report per burst, not per connection.
		bool burstStarted = false;
	};
	Added add(QTcpSocket *socket, Clock::time_point now);
	// A connection that upgraded, was answered or went away.
	void remove(QTcpSocket *socket);
	// Takes out every connection whose deadline has passed at `now`.
	std::vector<QTcpSocket *> takeExpired(Clock::time_point now);
	// When the oldest connection falls due; none while nothing waits.
	std::optional<Clock::time_point> nextDeadline() const;
	size_t size() const { return waiting.size(); }
	void clear();

private:
	struct Entry {
		QTcpSocket *socket;
		Clock::time_point deadline;
	};

	size_t maxPending;
	std::chrono::milliseconds timeAllowed;
	// Every connection gets the same time, so arrival order is deadline order.
	std::deque<Entry> waiting;
	bool overflowing = false;
};
