// The QtWebSockets relay peer: prints "PORT <n>" once it listens; stops when
// standard input closes.

#include "QtBroadcastServer.h"

#include <cstdio>

#include <QCoreApplication>
#include <QSocketNotifier>

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
	QSocketNotifier input(0, QSocketNotifier::Read);
	QObject::connect(&input, &QSocketNotifier::activated, &app, [&app, &input] {
		char byte;
		if (std::fread(&byte, 1, 1, stdin) != 1) {
			input.setEnabled(false);
			app.quit();
		}
	});
	return app.exec();
}
