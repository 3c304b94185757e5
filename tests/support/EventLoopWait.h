#pragma once

// Waiting in tests: the event loop runs while a condition is awaited, so that
// sockets, timers and queued calls of the code under test make progress.

#include <chrono>
#include <functional>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>

// Sleeps in the event loop until `predicate` holds: each pass blocks until an
// event arrives for this thread (a socket, a timer, a queued call), then looks
// again. A coarse tick also wakes it, for conditions that another thread
// changes without posting anything here.
inline bool waitUntil(const std::function<bool()> &predicate,
		      std::chrono::milliseconds timeout = std::chrono::seconds(5))
{
	const QDeadlineTimer deadline(timeout);
	QTimer tick;
	tick.start(std::chrono::milliseconds(20));
	while (!predicate()) {
		if (deadline.hasExpired())
			return false;
		QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
	}
	return true;
}

inline void pumpEvents(std::chrono::milliseconds duration)
{
	waitUntil([] { return false; }, duration);
}

// Runs the event loop until every timer of this thread that falls due within
// `horizon` from now has fired: Qt fires a thread's timers in the order they
// fall due, so all of them go before one armed now for the horizon. Qt's
// coarse timers (the default) fall due up to 5 % late: the horizon covers it.
inline bool waitForTimersDueWithin(std::chrono::milliseconds horizon)
{
	bool reached = false;
	QTimer marker;
	marker.setSingleShot(true);
	marker.setTimerType(Qt::PreciseTimer);
	QObject::connect(&marker, &QTimer::timeout, [&reached] { reached = true; });
	marker.start(horizon);
	return waitUntil([&reached] { return reached; }, horizon + std::chrono::seconds(5));
}

// Runs `links` links of a chain of timers on this thread, each armed by the
// one before to fire `interval` later (the first may be queued at once): each
// step waits past the interval, then runs one pass of the event loop, in which
// the link armed in the step before is due and the one it arms is not yet. A
// slow machine makes the steps longer, never fewer links.
inline void runTimerChain(int links, std::chrono::milliseconds interval)
{
	for (int step = 0; step < links; ++step) {
		QThread::msleep(static_cast<unsigned long>(interval.count() * 3 / 2));
		QCoreApplication::processEvents();
	}
}
