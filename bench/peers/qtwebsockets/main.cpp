// The QtWebSockets relay peer: prints "PORT <n>" once it listens; stops when
// standard input closes.

#include "QtBroadcastServer.h"
#include "relay/QuitWhenInputCloses.h"

#include <cstdio>

#include <QCoreApplication>

int main(int argc, char **argv)
{
	QCoreApplication app(argc, argv);
	QtBroadcastServer server;
	if (!server.listen()) {
		std::fprintf(stderr, "QtWebSockets peer: cannot listen\n");
		return 1;
	}
	std::printf("PORT %u\n", unsigned(server.port()));
	std::fflush(stdout);
	quitWhenInputCloses(app);
	return app.exec();
}
