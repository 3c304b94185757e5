// The module's event proxy as a relay benchmark server: EventProxyServer on a
// worker thread named as in the module, on an ephemeral loopback port. Prints
// "PORT <n> TOKEN <t>" once it listens; stops when standard input closes.

#include "proxy/EventProxyServer.h"
#include "relay/QuitWhenInputCloses.h"
#include "threading/WorkerThread.h"

#include <cstdarg>
#include <cstdio>

#include <QCoreApplication>
#include <QThread>

#include <util/base.h>

namespace {

// Warnings and errors to standard error; the per-connection information
// lines would only slow the run down.
void logHandler(int level, const char *format, va_list args, void *)
{
	if (level > LOG_WARNING)
		return;
	std::vfprintf(stderr, format, args);
	std::fputc('\n', stderr);
}

} // namespace

int main(int argc, char **argv)
{
	base_set_log_handler(&logHandler, nullptr);
	QCoreApplication app(argc, argv);
	WorkerThread worker;
	worker.setObjectName(QStringLiteral("zorva-worker"));
	EventProxyServer::Options options;
	options.port = 0;
	auto *proxy = new EventProxyServer(options);
	QObject::connect(
		proxy, &EventProxyServer::started, &app,
		[proxy](quint16 port, std::string) {
			std::printf("PORT %u TOKEN %s\n", unsigned(port), proxy->accessToken().c_str());
			std::fflush(stdout);
		},
		Qt::QueuedConnection);
	proxy->moveToThread(&worker);
	QObject::connect(&worker, &QThread::finished, proxy, &QObject::deleteLater);
	QObject::connect(&worker, &QThread::started, proxy, &EventProxyServer::start);
	worker.start();

	quitWhenInputCloses(app);
	const int status = app.exec();
	QMetaObject::invokeMethod(proxy, "stop", Qt::BlockingQueuedConnection);
	worker.quitAndJoin();
	return status;
}
