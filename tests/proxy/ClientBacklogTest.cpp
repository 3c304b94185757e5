// Whether a client of the event proxy stopped reading, judged at given times.

#include "proxy/ClientBacklog.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

TEST(ClientBacklog, AClientThatTakesTooLittleWithinTheGraceHasStoppedReading)
{
	ClientBacklog backlog({100, 2000ms});
	const auto start = std::chrono::steady_clock::time_point() + 1h;
	backlog.recordQueued(500);
	EXPECT_FALSE(backlog.stoppedReading(100, start)); // at the limit
	EXPECT_FALSE(backlog.stoppedReading(500, start)); // over it: the grace starts, 500 handed over so far
	EXPECT_FALSE(backlog.stoppedReading(500, start + 1999ms));

	// It took 400 of those 500 by the end of the grace: still reading, and a new grace starts.
	backlog.recordQueued(1000);
	EXPECT_FALSE(backlog.stoppedReading(1100, start + 2000ms));
	// Of the 1500 handed over by then it took 1399: one byte short.
	backlog.recordQueued(1000);
	EXPECT_TRUE(backlog.stoppedReading(1101, start + 4000ms));

	// Back within the limit, the judgement starts over.
	ClientBacklog caughtUp({100, 2000ms});
	caughtUp.recordQueued(500);
	EXPECT_FALSE(caughtUp.stoppedReading(500, start));
	EXPECT_FALSE(caughtUp.stoppedReading(50, start + 1000ms));
	EXPECT_FALSE(caughtUp.stoppedReading(500, start + 2500ms));
	EXPECT_FALSE(caughtUp.stoppedReading(500, start + 4000ms));
	EXPECT_TRUE(caughtUp.stoppedReading(500, start + 4500ms));
}
