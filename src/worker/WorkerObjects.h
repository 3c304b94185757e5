#pragma once

#include "integration/VekService.h"
#include "proxy/EventProxyServer.h"
#include "threading/WorkerThread.h"

class VekRuntime;

// The module's worker thread and the two objects that live on it, the event
// proxy and the Vek runtime, wired to each other: the proxy carries the pages'
// requests to the runtime, the runtime the accounts' traffic to the pages.
// Created and driven from the UI thread; the module and the tests share it,
// so that the tests run the wiring the module runs.
class WorkerObjects {
public:
	explicit WorkerObjects(EventProxyServer::Options proxyOptions = {},
			       VekService service = VekService::fromEndpoints(ServiceEndpoints()));
	// Stops the thread if stop() was not called.
	~WorkerObjects();
	WorkerObjects(const WorkerObjects &) = delete;
	WorkerObjects &operator=(const WorkerObjects &) = delete;

	// Both objects stay valid until stop() returns; they are deleted on the
	// worker thread as it ends.
	EventProxyServer *eventProxy() const { return proxy; }
	VekRuntime *vekRuntime() const { return runtime; }
	QThread *thread() { return &workerThread; }

	// Starts the thread; the proxy starts listening on it.
	void start();
	// Stops the proxy and the runtime on the worker thread, waiting for each,
	// then ends the thread. False if the OS thread was still ending.
	bool stop();

private:
	WorkerThread workerThread;
	EventProxyServer *proxy;
	VekRuntime *runtime;
	bool started = false;
};
