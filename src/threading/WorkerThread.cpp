#include "threading/WorkerThread.h"

#include "threading/KernelThread.h"

#include <thread>

void WorkerThread::run()
{
	kernelThreadId.store(currentKernelThreadId());
	QThread::run();
}

bool WorkerThread::quitAndJoin(std::chrono::milliseconds bound)
{
	quit();
	wait(QDeadlineTimer(QDeadlineTimer::Forever));
	const long id = kernelThreadId.exchange(0);
	if (id == 0)
		return true;
	const auto deadline = std::chrono::steady_clock::now() + bound;
	// The destructors that remain are short: poll finely.
	while (kernelThreadExists(id)) {
		if (std::chrono::steady_clock::now() >= deadline)
			return false;
		std::this_thread::sleep_for(std::chrono::microseconds(100));
	}
	return true;
}
