#pragma once

#include <atomic>
#include <chrono>

#include <QThread>

// A QThread whose end can be waited for in full. Qt starts its threads
// detached, so QThread::wait() returns once run() is done, while the OS thread
// may still be running its exit-time destructors (among them OpenSSL's
// per-thread cleanup of what TLS sockets left). A process that exits right
// then, as OBS may after unloading the module, races OpenSSL's own cleanup
// and can crash in it.
class WorkerThread : public QThread {
public:
	using QThread::QThread;

	// Quits the event loop, waits for run() to return, then waits up to
	// `bound` for the OS thread to be gone. False if it was still there.
	bool quitAndJoin(std::chrono::milliseconds bound = std::chrono::seconds(5));

protected:
	void run() override;

private:
	std::atomic<long> kernelThreadId{0};
};
