// The development host: a stand-in OBS main window with real libobs, the
// obs-websocket stand-in, local sample services, and the development flavour
// of the module (pointed at those services) loaded as OBS loads it, its docks
// on the plugin's own browser panel host.

#include "BrowserWindows.h"
#include "FrontendStandin.h"
#include "LogCapture.h"
#include "ObsWebSocketServer.h"
#include "ObsWebSocketStandin.h"
#include "StandinHost.h"
#include "samples/SampleServices.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QDockWidget>
#include <QMainWindow>
#include <QPixmap>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>

#include <memory>

namespace {

QString defaultHome()
{
	return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
	       QStringLiteral("/vorn-zorva-devhost");
}

struct Options {
	QString home;
	int quitAfterSeconds = 0; // 0: run until the window closes
	QString screenshot;
	bool recordingBrowser = false;
	bool tileDocks = false;
};

Options parseOptions(const QApplication &app)
{
	QCommandLineParser parser;
	parser.setApplicationDescription(
		QStringLiteral("Runs the vorn-zorva module in a stand-in OBS with sample services."));
	parser.addHelpOption();
	const QCommandLineOption home(
		QStringLiteral("home"),
		QStringLiteral("Folder for the host's settings and the module's files (default: %1).")
			.arg(defaultHome()),
		QStringLiteral("dir"), defaultHome());
	const QCommandLineOption quitAfter(QStringLiteral("quit-after"),
					   QStringLiteral("Close the window after this many seconds."),
					   QStringLiteral("seconds"));
	const QCommandLineOption screenshot(
		QStringLiteral("screenshot"),
		QStringLiteral("Save a picture of the main window, docks side by side, to this PNG "
			       "file and close (after --quit-after seconds, 20 by default)."),
		QStringLiteral("file"));
	const QCommandLineOption recording(
		QStringLiteral("recording-browser"),
		QStringLiteral("An obs-browser whose panels only record their calls, instead of the plugin's own "
			       "Qt WebEngine panels."));
	const QCommandLineOption tile(
		QStringLiteral("tile-docks"),
		QStringLiteral("Once loaded, show the four docks side by side instead of as tabs."));
	parser.addOptions({home, quitAfter, screenshot, recording, tile});
	parser.process(app);

	Options options;
	options.home = QDir(parser.value(home)).absolutePath();
	options.screenshot = parser.value(screenshot);
	options.quitAfterSeconds =
		parser.isSet(quitAfter) ? parser.value(quitAfter).toInt() : (options.screenshot.isEmpty() ? 0 : 20);
	// A picture is for seeing all four docks at once.
	options.tileDocks = parser.isSet(tile) || !options.screenshot.isEmpty();
	options.recordingBrowser = parser.isSet(recording);
	return options;
}

// What a user would do to see all four at once: main and accounts in one
// column, chat and stream manager in the next.
void tileDocks(QMainWindow *window)
{
	const auto dock = [window](const char *id) {
		return window->findChild<QDockWidget *>(QLatin1String(id));
	};
	QDockWidget *main = dock("vorn-zorva-dock");
	QDockWidget *accounts = dock("vorn-zorva-integrations-dock");
	QDockWidget *chat = dock("vorn-zorva-chat-dock");
	QDockWidget *stream = dock("vorn-zorva-stream-manager-dock");
	if (!main || !accounts || !chat || !stream)
		return;
	window->splitDockWidget(main, chat, Qt::Horizontal);
	window->splitDockWidget(main, accounts, Qt::Vertical);
	window->splitDockWidget(chat, stream, Qt::Vertical);
	window->resizeDocks({main, chat}, {430, 430}, Qt::Horizontal);
	window->resizeDocks({main, accounts}, {window->height() * 3 / 5, window->height() * 2 / 5}, Qt::Vertical);
	window->resizeDocks({chat, stream}, {window->height() * 3 / 5, window->height() * 2 / 5}, Qt::Vertical);
}

// The picture comes from the X server, so it holds what the browser panels
// drew on the GPU-less path too.
void saveScreenshot(QMainWindow *window, const QString &file)
{
	QPixmap picture = window->screen()->grabWindow(window->winId());
	if (picture.isNull())
		picture = window->grab();
	if (picture.save(file, "PNG"))
		blog(LOG_INFO, "[devhost] saved %s", file.toUtf8().constData());
	else
		blog(LOG_WARNING, "[devhost] could not save %s", file.toUtf8().constData());
}

} // namespace

int main(int argc, char **argv)
{
	// As OBS, no shared OpenGL context is asked for: the browser panels
	// draw in software.
	QApplication app(argc, argv);
	QApplication::setApplicationName(QStringLiteral("vorn-zorva-devhost"));
	const Options options = parseOptions(app);

	// The host's own settings folder, never the user's OBS configuration:
	// obs-websocket's config file is looked up under XDG_CONFIG_HOME.
	const QString moduleConfigDir = options.home + QStringLiteral("/plugin_config");
	qputenv("XDG_CONFIG_HOME", (options.home + QStringLiteral("/xdg")).toUtf8());
	QDir().mkpath(moduleConfigDir);

	LogCapture::instance().install();
	QMainWindow *window = FrontendStandin::instance().createMainWindow();

	SampleServices::trustSampleAuthority(QStringLiteral(ZORVA_DEVHOST_TLS_DIR));
	SampleServices samples(QStringLiteral(ZORVA_DEVHOST_PAGES_DIR), QStringLiteral(ZORVA_DEVHOST_TLS_DIR));
	if (!samples.start())
		return 1;
	SampleServices::seedLinkedAccount(moduleConfigDir + QStringLiteral("/vorn-zorva/zorva-auth.json"));

	StandinHost host;
	if (!host.startup(moduleConfigDir))
		return 1;
	ObsWebSocketStandin::instance().install();
	// obs-websocket's network side, with the settings the module reads too
	// (written with defaults and a fresh password on the first run).
	const QString obsWebSocketConfig = ObsWebSocketSettings::path();
	ObsWebSocketSettings::ensureDefaults(obsWebSocketConfig);
	ObsWebSocketServer obsWebSocket;
	// As in Debian's OBS, no obs-browser: the module's docks use the plugin's
	// own panel host, unless a recording obs-browser is asked for.
	const QString browserData = options.home + QStringLiteral("/obs-browser");
	QDir().mkpath(browserData);
	if ((options.recordingBrowser && !host.loadModule(QStringLiteral(ZORVA_RECORDING_BROWSER_FILE), browserData)) ||
	    !host.loadModule(QStringLiteral(ZORVA_MODULE_FILE), QStringLiteral(ZORVA_DATA_DIR))) {
		host.shutdown();
		return 1;
	}
	auto systemBrowser = std::make_unique<BrowserWindows>();
	host.postLoad();
	// As in OBS: obs-websocket starts its server in its own post-load, which
	// OBS runs after the module's (modules post-load in reverse load order),
	// so the docks made at post-load find it not listening yet.
	obsWebSocket.start(ObsWebSocketSettings::read(obsWebSocketConfig));

	window->show();
	FrontendStandin::instance().fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
	// After the module's own placement, which may finish on later turns.
	if (options.tileDocks) {
		window->resize(1600, 1000);
		QTimer::singleShot(1500, window, [window] { tileDocks(window); });
	}

	if (options.quitAfterSeconds > 0) {
		QTimer::singleShot(options.quitAfterSeconds * 1000, window, [window, &options] {
			if (!options.screenshot.isEmpty())
				saveScreenshot(window, options.screenshot);
			window->close();
		});
	}
	const int result = app.exec();

	obsWebSocket.stop();
	FrontendStandin::instance().fireEvent(OBS_FRONTEND_EVENT_EXIT);
	systemBrowser.reset();
	host.shutdown();
	FrontendStandin::instance().destroyMainWindow();
	return result;
}
