// The plugin's own browser panel host: obs-browser's panel interface on Qt
// WebEngine, for an OBS built without obs-browser (Debian's) or running under
// native Wayland. The module loads this library only then
// (docks/PanelHostLibrary), never at its own load.

#include "docks/PanelHostEntryPoints.h"
#include "obs/Log.h"
#include "panelhost/SharedProfile.h"
#include "panelhost/WebEnginePanel.h"

#include <algorithm>
#include <array>

#include <QByteArray>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QList>
#include <QOpenGLContext>
#include <QQuickWindow>
#include <QThread>

#include <util/util.hpp>

// WebEngine's own set-up of the application-wide shared OpenGL context, which
// it runs by itself only when it is loaded before the application exists.
namespace QtWebEngineCore {
void initialize();
}

namespace {

// The pages draw in software beside OBS's own OpenGL (drawInSoftware below),
// so Chromium needs no GPU process; it refuses to start sandboxed as root;
// and its background traffic would reach out to Google's services from the
// streamer's OBS.
constexpr std::array<const char *, 7> kChromiumFlags = {
	"--no-sandbox",
	"--disable-gpu",
	"--disable-gpu-compositing",
	"--disable-background-networking",
	"--disable-component-update",
	"--disable-sync",
	"--no-first-run",
};

// Chromium's network service runs in a process of its own, as it does in
// obs-browser's CEF. WebEngine runs it inside the host unless told otherwise
// (the feature's name changed after Qt 6.4), and there a failed check in
// WebEngine 6.11's WebSocket connection pool, hit now and then when a page
// reloads while its WebSocket connects, stopped OBS itself. Out of process,
// Chromium restarts the service and the pages connect again.
constexpr std::array<const char *, 2> kDisabledFeatures = {"NetworkServiceInProcess", "NetworkServiceInProcess2"};

// The features above join a host's own --disable-features list: Chromium
// reads only the last of two such flags.
void disableFeatures(QList<QByteArray> &flags)
{
	const QByteArray prefix("--disable-features=");
	auto listed = std::find_if(flags.begin(), flags.end(),
				   [&prefix](const QByteArray &flag) { return flag.startsWith(prefix); });
	if (listed == flags.end())
		listed = flags.insert(flags.end(), prefix);
	QList<QByteArray> features = listed->mid(prefix.size()).split(',');
	features.removeAll(QByteArray());
	for (const char *feature : kDisabledFeatures) {
		if (!features.contains(QByteArray(feature)))
			features.append(feature);
	}
	*listed = prefix + features.join(',');
}

// A debugging port or pipe would hand the pages, and the tokens in them, to
// any local process: none is opened, whatever the environment asks.
bool opensDebugger(const QByteArray &flag)
{
	return flag.startsWith("--remote-debugging-") || flag.startsWith("--remote-allow-origins");
}

// WebEngine reads these once, when its first object is made; a host's own
// settings win, but for the debugger.
void prepareChromiumEnvironment()
{
	qunsetenv("QTWEBENGINE_REMOTE_DEBUGGING");
	if (!qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
		qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
	QList<QByteArray> flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").simplified().split(' ');
	flags.removeAll(QByteArray());
	flags.erase(std::remove_if(flags.begin(), flags.end(), opensDebugger), flags.end());
	for (const char *flag : kChromiumFlags) {
		if (!flags.contains(QByteArray(flag)))
			flags.append(flag);
	}
	disableFeatures(flags);
	qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.join(' '));
}

// The panels draw without OpenGL. Chromium already composites in software
// (--disable-gpu), and Qt Quick, which shows its frames, would otherwise make
// OpenGL contexts on the host's display: OBS renders with EGL contexts of its
// own there, and fails to make them current beside Qt's (EGL_BAD_ACCESS).
// It must be chosen before the first panel; a host's own choice wins.
void drawInSoftware()
{
	static bool chosen = false;
	if (chosen)
		return;
	chosen = true;
	if (qEnvironmentVariableIsSet("QT_QUICK_BACKEND"))
		return;
	QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
}

// WebEngine's context reads the application's shared OpenGL context when it
// starts, even when nothing is drawn with OpenGL, and crashes without one.
// Hosts ask for it before making their QApplication
// (Qt::AA_ShareOpenGLContexts); for one that did not, such as OBS, it is made
// now, before any WebEngine view exists.
void ensureSharedGlContext()
{
	static bool attempted = false;
	auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
	if (attempted || !app || app->thread() != QThread::currentThread() || QOpenGLContext::globalShareContext())
		return;
	attempted = true;
	QtWebEngineCore::initialize();
	// Newer WebEngine makes none while Qt Quick may still draw in software.
	if (QOpenGLContext::globalShareContext())
		logInfo("The host has no shared OpenGL context; made one for the browser panels.");
}

class WebEngineCef : public QCef {
public:
	bool init_browser(void) override
	{
		// Starts WebEngine now rather than with the first panel.
		SharedProfile::profile();
		return true;
	}
	bool initialized(void) override { return true; }
	bool wait_for_browser_init(void) override { return true; }

	QCefWidget *create_widget(QWidget *parent, const std::string &url, QCefCookieManager *) override
	{
		auto *panel = new WebEnginePanel(parent);
		if (!url.empty())
			panel->setURL(url);
		return panel;
	}

	// Every panel shares the one profile; there are no per-panel cookie jars.
	QCefCookieManager *create_cookie_manager(const std::string &, bool) override { return nullptr; }

	BPtr<char> get_cookie_path(const std::string &storage_path) override
	{
		return BPtr<char>(bstrdup(storage_path.c_str()));
	}

	// Popups are allowed or blocked per panel (allowAllPopups); lists of
	// addresses are not kept.
	void add_popup_whitelist_url(const std::string &, QObject *) override {}
	void add_force_popup_url(const std::string &, QObject *) override {}
};

} // namespace

QCef *vorn_zorva_panel_host_create(const char *storagePath)
{
	// WebEngine lives on the application's thread, and only with an application.
	const QCoreApplication *app = QCoreApplication::instance();
	if (!app || app->thread() != QThread::currentThread())
		return nullptr;
	prepareChromiumEnvironment();
	// WebEngine's own set-up chooses OpenGL for Qt Quick: software comes after.
	ensureSharedGlContext();
	drawInSoftware();
	SharedProfile::setStoragePath(storagePath ? QString::fromUtf8(storagePath) : QString());
	SharedProfile::moduleLoaded();
	return new WebEngineCef();
}

void vorn_zorva_panel_host_release(void)
{
	SharedProfile::moduleUnloading();
}
