#pragma once

#include <functional>
#include <mutex>

class QObject;

// Carries work from other threads to the thread of one object. The object
// detaches the relay when it goes away, so that work posted late is dropped
// instead of reaching a deleted object; work already queued is dropped by Qt
// with the object.
class QueuedRelay {
public:
	explicit QueuedRelay(QObject *owner) : target(owner) {}

	// Runs `work` on the target's thread, unless the relay is detached.
	void post(std::function<void()> work);
	void detach();

private:
	std::mutex mutex;
	QObject *target;
};
