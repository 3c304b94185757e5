#pragma once

#include <chrono>
#include <functional>

#include <QTimer>

// Coalesces the change notices of obs-websocket's configuration: saving it
// may take several writes, and each refresh reads the file and probes the
// server, so the refresh runs once, after the notices have stopped for the
// delay. Lives on the UI thread.
class RefreshDebounce {
public:
	static constexpr std::chrono::milliseconds kDefaultDelay{150};

	explicit RefreshDebounce(std::function<void()> refresh, std::chrono::milliseconds delay = kDefaultDelay);

	// (Re)starts the wait: a notice during the wait postpones the refresh.
	void notice();

private:
	QTimer timer;
};
