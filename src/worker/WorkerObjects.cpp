#include "worker/WorkerObjects.h"

#include "integration/VekRuntime.h"

namespace {

// A blocking call into the worker thread: the caller waits until it ran.
// It fails only when called on the worker thread itself, which would deadlock.
template<typename Object> void stopOnWorker(Object *object)
{
	[[maybe_unused]] const bool ran = QMetaObject::invokeMethod(
		object, [object] { object->stop(); }, Qt::BlockingQueuedConnection);
	Q_ASSERT(ran);
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
