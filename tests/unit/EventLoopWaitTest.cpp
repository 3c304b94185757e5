// The tests' wait helper sleeps in the event loop: a test waiting on the code
// under test must leave the machine's processors to that code.

#include "EventLoopWait.h"

#include <ctime>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

std::chrono::nanoseconds processCpuTime()
{
	timespec now{};
	clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
	return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

} // namespace

TEST(EventLoopWait, WaitingTakesNoMeasurableProcessorTime)
{
	const auto before = processCpuTime();
	EXPECT_FALSE(waitUntil([] { return false; }, 500ms));
	// A spinning wait costs tens of milliseconds here, even on a busy machine.
	const auto spent = std::chrono::duration_cast<std::chrono::microseconds>(processCpuTime() - before);
	EXPECT_LT(spent, 10ms) << spent.count() << " µs of processor time";
}
