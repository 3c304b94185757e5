#include "threading/WorkerThread.h"

#include <thread>

#ifdef __linux__
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace {

long currentKernelThreadId()
{
#ifdef __linux__
	return long(syscall(SYS_gettid));
#else
	return 0;
#endif
}

// Whether the kernel still has the thread: signal 0 checks without sending.
bool kernelThreadExists(long id)
{
#ifdef __linux__
	return syscall(SYS_tgkill, getpid(), id, 0) == 0;
#else
	(void)id;
	return false;
#endif
}

} // namespace

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
