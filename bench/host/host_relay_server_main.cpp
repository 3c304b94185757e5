// The event proxy as users run it, as a server of the relay benchmark: the
// module loaded by the stand-in OBS through real libobs, with its real wiring
// and threads (the UI thread running the host's event loop, the worker
// thread serving the proxy on its fixed port). Prints "PORT <n> TOKEN <t>"
// once the module has announced its proxy, and unloads the module as OBS does
// at exit once standard input closes.

#include "BenchHost.h"

#include "EventLoopWait.h"
#include "relay/QuitWhenInputCloses.h"

#include <chrono>
#include <cstdio>

#include <QApplication>

using namespace std::chrono_literals;

namespace {

// The module's fixed event proxy port.
constexpr unsigned kEventProxyPort = 44423;

} // namespace

int main(int argc, char **argv)
{
	QApplication app(argc, argv);
	BenchHost host;
	if (!host.start() || !host.loadModule(QStringLiteral(ZORVA_MODULE_FILE))) {
		std::fprintf(stderr, "the stand-in OBS could not load the module\n");
		return 1;
	}
	host.postLoad();
	if (!waitUntil([&] { return !host.proxyToken().empty(); }, 10s)) {
		std::fprintf(stderr, "the module announced no event proxy (port %u taken?)\n", kEventProxyPort);
		return 1;
	}
	std::printf("PORT %u TOKEN %s\n", kEventProxyPort, host.proxyToken().c_str());
	std::fflush(stdout);

	quitWhenInputCloses(app);
	const int status = app.exec();
	host.shutdown();
	return status;
}
