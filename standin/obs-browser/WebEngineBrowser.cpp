// The development host's flavour of the obs-browser stand-in: a libobs module
// named "obs-browser" whose panels show real pages with Qt WebEngine.

#include "SharedProfile.h"
#include "WebEnginePanel.h"

#include <array>

#include <QByteArray>
#include <QGuiApplication>
#include <QList>
#include <QOpenGLContext>
#include <QThread>

#include <obs-module.h>

OBS_DECLARE_MODULE()

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

// WebEngine reads these once, when its first object is made; a host's own
// settings win.
void prepareChromiumEnvironment()
{
	if (!qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
		qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
	QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").trimmed();
	const QList<QByteArray> present = flags.split(' ');
	for (const char *flag : kChromiumFlags) {
		if (present.contains(QByteArray(flag)))
			continue;
		if (!flags.isEmpty())
			flags += ' ';
		flags += flag;
	}
	qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
}

// WebEngine renders through the application's shared OpenGL context and
// crashes on its first page without one. Hosts should ask for it before
// making their QApplication (Qt::AA_ShareOpenGLContexts); for one that did
// not, it is made now, which works as long as no WebEngine view exists yet.
void ensureSharedGlContext()
{
	auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
	if (!app || app->thread() != QThread::currentThread() || QOpenGLContext::globalShareContext())
		return;
	blog(LOG_WARNING, "[obs-browser] the host did not set Qt::AA_ShareOpenGLContexts before "
			  "creating its QApplication; creating the shared OpenGL context now");
	QtWebEngineCore::initialize();
}

// The profile lives in this module's configuration folder, so that sign-ins
// survive a restart of the host; loaded without libobs there is no such
// folder, and it stays in memory.
QString profileStoragePath()
{
	if (!obs_current_module())
		return {};
	BPtr<char> path = obs_module_config_path("webengine");
	return path ? QString::fromUtf8(path.Get()) : QString();
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

bool obs_module_load(void)
{
	prepareChromiumEnvironment();
	ensureSharedGlContext();
	SharedProfile::setStoragePath(profileStoragePath());
	SharedProfile::moduleLoaded();
	return true;
}

void obs_module_unload(void)
{
	SharedProfile::moduleUnloading();
}

MODULE_EXPORT QCef *obs_browser_create_qcef(void)
{
	// For hosts that open this file without libobs and so never call
	// obs_module_load: WebEngine starts with the first panel at the earliest.
	prepareChromiumEnvironment();
	ensureSharedGlContext();
	return new WebEngineCef();
}
