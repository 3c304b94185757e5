// The development host: a stand-in OBS main window with real libobs, the
// obs-websocket stand-in, local sample services, and the development flavour
// of the module (pointed at those services) loaded as OBS loads it, its docks
// on the plugin's own browser panel host.

#include "BrowserWindows.h"
#include "FrontendStandin.h"
#include "LogCapture.h"
#include "ObsSetup.h"
#include "ObsWebSocketServer.h"
#include "ObsWebSocketSettings.h"
#include "TlsTcpServer.h"
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
	// An installed plugin folder to load instead of the development flavour.
	QString pluginDir;
	QString quitOnLine;
	int quitOnLineTimes = 1;
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
	const QCommandLineOption pluginFolder(
		QStringLiteral("plugin-folder"),
		QStringLiteral("Load the module from a plugin folder as OBS loads a user plugin, <dir>/bin/64bit/"
			       "vorn-zorva.so with <dir>/data, instead of the development flavour built here; it "
			       "must be built with the sample services' endpoints."),
		QStringLiteral("dir"));
	const QCommandLineOption quitOnLine(
		QStringLiteral("quit-on-line"),
		QStringLiteral("Close the window once a log line holding this text has been logged (--times times)."),
		QStringLiteral("text"));
	const QCommandLineOption times(QStringLiteral("times"), QStringLiteral("See --quit-on-line (default 1)."),
				       QStringLiteral("count"), QStringLiteral("1"));
	parser.addOptions({home, quitAfter, screenshot, recording, tile, pluginFolder, quitOnLine, times});
	parser.process(app);

	Options options;
	options.home = QDir(parser.value(home)).absolutePath();
	options.screenshot = parser.value(screenshot);
	options.quitAfterSeconds =
		parser.isSet(quitAfter) ? parser.value(quitAfter).toInt() : (options.screenshot.isEmpty() ? 0 : 20);
	// A picture is for seeing all four docks at once.
	options.tileDocks = parser.isSet(tile) || !options.screenshot.isEmpty();
	options.recordingBrowser = parser.isSet(recording);
	if (parser.isSet(pluginFolder))
		options.pluginDir = QDir(parser.value(pluginFolder)).absolutePath();
	options.quitOnLine = parser.value(quitOnLine);
	options.quitOnLineTimes = parser.value(times).toInt();
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

// Closes the window once the line has been logged often enough, looking
// from the event loop.
void quitOnLine(QMainWindow *window, const Options &options)
{
	auto *poll = new QTimer(window);
	QObject::connect(poll, &QTimer::timeout, window, [window, poll, &options] {
		if (LogCapture::instance().count(options.quitOnLine.toStdString()) <
		    static_cast<size_t>(options.quitOnLineTimes))
			return;
		poll->stop();
		window->close();
	});
	poll->start(100);
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
	ObsSetup obs(ObsSetup::below(options.home));

	LogCapture::instance().install();
	QMainWindow *window = FrontendStandin::instance().createMainWindow();

	const QString moduleFile = options.pluginDir.isEmpty()
					   ? QStringLiteral(ZORVA_MODULE_FILE)
					   : options.pluginDir + QStringLiteral("/bin/64bit/vorn-zorva.so");
	const QString dataDir = options.pluginDir.isEmpty() ? QStringLiteral(ZORVA_DATA_DIR)
							    : options.pluginDir + QStringLiteral("/data");
	ThrowawayTls::trustAuthority();
	SampleServices samples(QStringLiteral(ZORVA_DEVHOST_PAGES_DIR));
	if (!samples.start())
		return 1;
	SampleServices::seedLinkedAccount(obs.authFilePath(ObsSetup::moduleName(moduleFile)));

	if (!obs.start())
		return 1;
	obs.installObsWebSocket();
	// obs-websocket's network side, with the settings the module reads too
	// (written with defaults and a fresh password on the first run).
	const QString obsWebSocketConfig = obs.obsWebSocketConfigPath();
	ObsWebSocketSettings::ensureDefaults(obsWebSocketConfig);
	ObsWebSocketServer obsWebSocket;
	blog(LOG_INFO, "[devhost] module %s", moduleFile.toUtf8().constData());
	// As in Debian's OBS, no obs-browser: the module's docks use the plugin's
	// own panel host, unless a recording obs-browser is asked for.
	if ((options.recordingBrowser && !obs.loadBrowser(QStringLiteral(ZORVA_RECORDING_BROWSER_FILE))) ||
	    !obs.loadModule(moduleFile, dataDir)) {
		obs.shutdown();
		return 1;
	}
	auto systemBrowser = std::make_unique<BrowserWindows>();
	obs.postLoad();
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

	if (!options.quitOnLine.isEmpty())
		quitOnLine(window, options);
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
	obs.shutdown();
	FrontendStandin::instance().destroyMainWindow();
	return result;
}
