#pragma once

#include <cstdio>

#include <QCoreApplication>
#include <QSocketNotifier>

// A relay server process ends when the driver closes its standard input, so
// that no server outlives a driver that crashed or was interrupted.
inline void quitWhenInputCloses(QCoreApplication &app)
{
	auto *input = new QSocketNotifier(0, QSocketNotifier::Read, &app);
	QObject::connect(input, &QSocketNotifier::activated, &app, [&app, input] {
		char byte;
		if (std::fread(&byte, 1, 1, stdin) != 1) {
			input->setEnabled(false);
			app.quit();
		}
	});
}
