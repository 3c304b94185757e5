// The development host: a stand-in OBS main window with real libobs, the
// obs-websocket and obs-browser stand-ins, and the module loaded as OBS loads it.

#include "FrontendStandin.h"
#include "LogCapture.h"
#include "ObsWebSocketStandin.h"
#include "StandinHost.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QMainWindow>
#include <QStandardPaths>
#include <QTimer>

namespace {

QString defaultConfigDir()
{
	return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
	       QStringLiteral("/vorn-zorva-devhost/plugin_config");
}

} // namespace

int main(int argc, char **argv)
{
	QApplication app(argc, argv);
	QApplication::setApplicationName(QStringLiteral("vorn-zorva-devhost"));

	QCommandLineParser parser;
	parser.setApplicationDescription(QStringLiteral("Runs the vorn-zorva module in a stand-in OBS."));
	parser.addHelpOption();
	QCommandLineOption configDir(QStringLiteral("config-dir"),
				     QStringLiteral("Module configuration folder (default: %1).").arg(defaultConfigDir()),
				     QStringLiteral("dir"), defaultConfigDir());
	QCommandLineOption quitAfter(QStringLiteral("quit-after"),
				     QStringLiteral("Close the window after this many seconds."), QStringLiteral("seconds"));
	QCommandLineOption screenshot(QStringLiteral("screenshot"),
				      QStringLiteral("Save a picture of the main window to this PNG file before closing it."),
				      QStringLiteral("file"));
	parser.addOption(configDir);
	parser.addOption(quitAfter);
	parser.addOption(screenshot);
	parser.process(app);

	LogCapture::instance().install();
	QMainWindow *window = FrontendStandin::instance().createMainWindow();
	QDir().mkpath(parser.value(configDir));

	StandinHost host;
	if (!host.startup(parser.value(configDir)))
		return 1;
	ObsWebSocketStandin::instance().install();
	const QString browserData = QDir(parser.value(configDir)).filePath(QStringLiteral("../obs-browser-data"));
	QDir().mkpath(browserData);
	if (!host.loadModule(QStringLiteral(ZORVA_BROWSER_STANDIN_FILE), browserData) ||
	    !host.loadModule(QStringLiteral(ZORVA_MODULE_FILE), QStringLiteral(ZORVA_DATA_DIR))) {
		host.shutdown();
		return 1;
	}
	host.postLoad();

	window->show();
	FrontendStandin::instance().fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);

	if (parser.isSet(quitAfter)) {
		const int seconds = parser.value(quitAfter).toInt();
		const QString picture = parser.value(screenshot);
		QTimer::singleShot(seconds * 1000, window, [window, picture] {
			if (!picture.isEmpty())
				window->grab().save(picture, "PNG");
			window->close();
		});
	}
	const int result = app.exec();

	FrontendStandin::instance().fireEvent(OBS_FRONTEND_EVENT_EXIT);
	host.shutdown();
	FrontendStandin::instance().destroyMainWindow();
	return result;
}
