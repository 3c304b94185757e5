// The development host's obs-browser stand-in itself: panels that show real
// pages with Qt WebEngine. The module file "obs-browser" (WebEngineLoader.cpp)
// loads this library when libobs loads the module, and forwards to it.

#include "SharedProfile.h"
#include "WebEngineEntryPoints.h"
#include "WebEnginePanel.h"

#include <algorithm>
#include <array>

#include <QByteArray>
#include <QGuiApplication>
#include <QList>
#include <QOpenGLContext>
#include <QQuickWindow>
#include <QThread>

#include <obs-module.h>

// WebEngine's own set-up of the application-wide shared OpenGL context, which
// it runs by itself only when it is loaded before the application exists.
namespace QtWebEngineCore {
void initialize();
}

namespace {

// Hosts run as root under Xvfb without a GPU: Chromium refuses to start
// sandboxed as root, and its GPU process only gets in the way there.
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

// WebEngine reads these once, when its first object is made; a host's own
// settings win.
void prepareChromiumEnvironment()
{
	if (!qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
		qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
	QList<QByteArray> flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").simplified().split(' ');
	flags.removeAll(QByteArray());
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
		blog(LOG_INFO, "[obs-browser] the host has no shared OpenGL context; made one for WebEngine");
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
	void add_popup_whitelist_url(const std::string &url, QObject *) override
	{
		blog(LOG_DEBUG, "[obs-browser] popup allow-list entry ignored: %s", url.c_str());
	}
	void add_force_popup_url(const std::string &url, QObject *) override
	{
		blog(LOG_DEBUG, "[obs-browser] forced popup entry ignored: %s", url.c_str());
	}
};

} // namespace

void obs_browser_webengine_load(const char *storagePath)
{
	prepareChromiumEnvironment();
	// WebEngine's own set-up chooses OpenGL for Qt Quick: software comes after.
	ensureSharedGlContext();
	drawInSoftware();
	SharedProfile::setStoragePath(storagePath ? QString::fromUtf8(storagePath) : QString());
	SharedProfile::moduleLoaded();
}

void obs_browser_webengine_unload(void)
{
	SharedProfile::moduleUnloading();
}

QCef *obs_browser_webengine_create_qcef(void)
{
	// Hosts that open the module without libobs never load it: WebEngine
	// then starts with the first panel at the earliest.
	prepareChromiumEnvironment();
	// WebEngine's own set-up chooses OpenGL for Qt Quick: software comes after.
	ensureSharedGlContext();
	drawInSoftware();
	return new WebEngineCef();
}
