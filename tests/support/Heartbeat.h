#pragma once

// How long the event loop of one thread stays unresponsive: a 10 ms timer on
// that thread records the longest gap between two of its ticks. A wait that
// blocks the thread shows up as a gap as long as the wait, also while it is
// still going on; a nested event loop does not, since the timer keeps ticking
// inside it.

#include <algorithm>
#include <atomic>
#include <chrono>

#include <QObject>
#include <QTimer>

// The longest an event loop may go without running in the tests: well above
// scheduling noise on a loaded two-core machine and the CPU work of a TLS
// handshake (which AddressSanitizer makes many times slower), well below the
// waits a blocking implementation would cause. Tests make the waits they
// observe longer than this.
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
		const qint64 open = last > 0 ? nowMs() - last : 0;
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

	void tick()
	{
		const qint64 now = nowMs();
		const qint64 gap = now - lastTick.exchange(now);
		if (gap > longest.load())
			longest.store(gap);
		++count;
	}

	QTimer timer;
	std::atomic<qint64> lastTick{0};
	std::atomic<qint64> longest{0};
	std::atomic<int> count{0};
};
