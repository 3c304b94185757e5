#pragma once

// Waiting in tests: the event loop runs while a condition is awaited, so that
// sockets, timers and queued calls of the code under test make progress.

#include <chrono>
#include <functional>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

inline bool waitUntil(const std::function<bool()> &predicate,
		      std::chrono::milliseconds timeout = std::chrono::seconds(5))
{
	QElapsedTimer timer;
	timer.start();
	while (!predicate()) {
		if (timer.elapsed() > timeout.count())
			return false;
		QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
		QThread::usleep(300);
	}
	return true;
}

inline void pumpEvents(std::chrono::milliseconds duration)
{
	waitUntil([] { return false; }, duration);
}
