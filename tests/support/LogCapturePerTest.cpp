#include "LogCapture.h"

#include <gtest/gtest.h>

// Linked into a test executable, this makes each test see only the lines
// logged since it started, whether CTest runs its tests one a process or a
// developer runs them all in one.

namespace {

class ClearLogCaptureAtTestStart : public ::testing::EmptyTestEventListener {
	void OnTestStart(const ::testing::TestInfo &) override { LogCapture::instance().clear(); }
};

// Registered when the executable starts, before main runs any test; the
// listener list owns the listener.
const bool registered = [] {
	::testing::UnitTest::GetInstance()->listeners().Append(new ClearLogCaptureAtTestStart);
	return true;
}();

} // namespace
