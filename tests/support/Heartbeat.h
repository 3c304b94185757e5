#pragma once

// How long the event loop of one thread stays unresponsive: a 10 ms timer on
// that thread records the longest gap between two of its ticks. A wait that
// blocks the thread shows up as a gap as long as the wait, also while it is
// still going on; a nested event loop does not, since the timer keeps ticking
// inside it. The time the thread spent ready to run but waiting for a CPU
// does not count: a loaded machine delays every thread, but blocks none.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <string>

#include <QObject>
#include <QTimer>

#include <sys/syscall.h>
#include <unistd.h>

// The longest an event loop may go without running in the tests, waits for a
// CPU aside: well above the CPU work of a TLS handshake (which
// AddressSanitizer makes many times slower), well below the waits a blocking
// implementation would cause. Tests make the waits they observe longer than this.
#if defined(__SANITIZE_ADDRESS__)
constexpr qint64 kMaxEventLoopStallMs = 1500;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr qint64 kMaxEventLoopStallMs = 1500;
#else
constexpr qint64 kMaxEventLoopStallMs = 500;
#endif
#else
constexpr qint64 kMaxEventLoopStallMs = 500;
#endif

class Heartbeat : public QObject {
public:
	explicit Heartbeat(QObject *parent = nullptr) : QObject(parent), timer(this)
	{
		timer.setInterval(10);
		timer.setTimerType(Qt::PreciseTimer);
		connect(&timer, &QTimer::timeout, this, [this] { tick(); });
	}

	// Starts ticking on the thread this object lives on; callable from any
	// thread (the start is queued to the object's thread).
	void start()
	{
		QMetaObject::invokeMethod(this, [this] {
			threadId.store(long(syscall(SYS_gettid)));
			lastWait.store(runQueueWaitMs());
			lastTick.store(nowMs());
			timer.start();
		});
	}

	// Forgets the gaps seen so far, e.g. after a phase that is allowed to block.
	void reset() { longest.store(0); }

	// The longest gap so far, counting the one still open since the last tick.
	qint64 longestGapMs() const
	{
		const qint64 last = lastTick.load();
		const qint64 open = last > 0 ? nowMs() - last - (runQueueWaitMs() - lastWait.load()) : 0;
		return std::max(longest.load(), open);
	}

	// A heartbeat that never ticked proves nothing: tests check this grows.
	int ticks() const { return count.load(); }

private:
	static qint64 nowMs()
	{
		return std::chrono::duration_cast<std::chrono::milliseconds>(
			       std::chrono::steady_clock::now().time_since_epoch())
			.count();
	}

	// How long the thread has been ready to run but waiting for a CPU, from
	// the kernel's scheduler statistics (none where they cannot be read).
	qint64 runQueueWaitMs() const
	{
		std::ifstream stats("/proc/self/task/" + std::to_string(threadId.load()) + "/schedstat");
		unsigned long long runningNs = 0;
		unsigned long long waitingNs = 0;
		if (!(stats >> runningNs >> waitingNs))
			return 0;
		return qint64(waitingNs / 1000000);
	}

	void tick()
	{
		const qint64 now = nowMs();
		const qint64 waited = runQueueWaitMs();
		const qint64 gap = now - lastTick.exchange(now) - (waited - lastWait.exchange(waited));
		if (gap > longest.load())
			longest.store(gap);
		++count;
	}

	QTimer timer;
	std::atomic<long> threadId{0};
	std::atomic<qint64> lastTick{0};
	std::atomic<qint64> lastWait{0};
	std::atomic<qint64> longest{0};
	std::atomic<int> count{0};
};
