// The refresh after changes to obs-websocket's configuration waits until the
// notices stop. The event loop does not run between the notices, so no wait
// can end between them however slowly the machine runs.

#include "host/RefreshDebounce.h"

#include "EventLoopWait.h"

#include <QThread>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

constexpr std::chrono::milliseconds kDelay = 50ms;
// Qt's coarse timers may fire up to 5 % early.
constexpr std::chrono::milliseconds kEarliest{kDelay.count() * 94 / 100};

} // namespace

TEST(RefreshDebounce, RefreshesOnceAfterTheLastNoticeOfABurst)
{
	int refreshes = 0;
	std::chrono::steady_clock::time_point refreshedAt;
	RefreshDebounce debounce(
		[&] {
			++refreshes;
			refreshedAt = std::chrono::steady_clock::now();
		},
		kDelay);

	debounce.notice();
	QThread::msleep(kDelay.count()); // the first notice's wait is over, unrun
	debounce.notice();
	debounce.notice();
	const auto lastNotice = std::chrono::steady_clock::now();
	ASSERT_TRUE(waitUntil([&] { return refreshes == 1; }));
	EXPECT_GE(refreshedAt - lastNotice, kEarliest);
	pumpEvents(3 * kDelay);
	EXPECT_EQ(refreshes, 1);

	// A later notice starts a new wait.
	debounce.notice();
	ASSERT_TRUE(waitUntil([&] { return refreshes == 2; }));
	pumpEvents(3 * kDelay);
	EXPECT_EQ(refreshes, 2);
}
