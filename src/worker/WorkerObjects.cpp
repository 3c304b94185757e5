#include "worker/WorkerObjects.h"

#include "integration/VekRuntime.h"
#include "threading/ThreadCalls.h"

namespace {

// The caller waits until the object has stopped on the worker thread.
template<typename Object> void stopOnWorker(Object *object)
{
	callOn(object, [object] { object->stop(); });
}

} // namespace

WorkerObjects::WorkerObjects(EventProxyServer::Options proxyOptions, VekService service)
	: proxy(new EventProxyServer(std::move(proxyOptions))), runtime(new VekRuntime(std::move(service)))
{
	workerThread.setObjectName(QStringLiteral("zorva-worker"));
	for (QObject *object : std::initializer_list<QObject *>{proxy, runtime}) {
		object->moveToThread(&workerThread);
		QObject::connect(&workerThread, &QThread::finished, object, &QObject::deleteLater);
	}
	QObject::connect(&workerThread, &QThread::started, proxy, &EventProxyServer::start);
	QObject::connect(proxy, &EventProxyServer::vekRequest, runtime, &VekRuntime::handleProxyRequest);
	QObject::connect(proxy, &EventProxyServer::vekPassthrough, runtime, &VekRuntime::handleProxyPassthrough);
	QObject::connect(runtime, &VekRuntime::rawEvent, proxy, &EventProxyServer::publishRawEvent);
	QObject::connect(runtime, &VekRuntime::loggedOut, proxy, &EventProxyServer::publishLogout);
	QObject::connect(runtime, &VekRuntime::apiResponse, proxy, &EventProxyServer::publishResponse);
}

WorkerObjects::~WorkerObjects()
{
	stop();
}

void WorkerObjects::start()
{
	started = true;
	workerThread.start(QThread::InheritPriority);
}

bool WorkerObjects::stop()
{
	if (!proxy)
		return true;
	bool ended = true;
	if (started) {
		stopOnWorker(proxy);
		stopOnWorker(runtime);
		// Its end in full, exit-time destructors included: OBS may exit
		// right after the module unloads.
		ended = workerThread.quitAndJoin();
	} else {
		// No thread ran, so no event loop deletes them.
		delete proxy;
		delete runtime;
	}
	proxy = nullptr;
	runtime = nullptr;
	return ended;
}
