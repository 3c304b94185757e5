// The worker's OS thread is gone, exit-time destructors included, once
// quitAndJoin returns: OBS may exit the process right after unload.

#include "threading/WorkerThread.h"

#include <atomic>
#include <thread>

#include <QObject>

#include <gtest/gtest.h>

namespace {

std::atomic<bool> exitPathDone{false};

// Stands for what a thread runs after Qt has reported it finished, such as
// OpenSSL's per-thread cleanup; the pause widens that window.
struct SlowExitPath {
	bool used = false;
	~SlowExitPath()
	{
		std::this_thread::sleep_for(std::chrono::milliseconds(50));
		exitPathDone = true;
	}
};
thread_local SlowExitPath slowExitPath;

} // namespace

TEST(WorkerThread, QuitAndJoinReturnsOnlyAfterTheThreadsExitPath)
{
	WorkerThread thread;
	QObject context;
	context.moveToThread(&thread);
	thread.start();
	QMetaObject::invokeMethod(
		&context, [] { slowExitPath.used = true; }, Qt::BlockingQueuedConnection);
	EXPECT_TRUE(thread.quitAndJoin());
	EXPECT_TRUE(exitPathDone);
}
