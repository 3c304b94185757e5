// A plugin module for tests in a real OBS Studio: it records what OBS does
// around the module under test (module load order, post-load, front-end
// events, the docks in the main window) as log lines, and lets a test drive
// OBS as a user would through its own obs-websocket vendor "real-obs-probe":
// "docks" lists the main window's docks, "closeMainWindow" closes the window,
// "versions" names the libobs and Qt the process runs, "runInDock" runs a
// script in the page of a dock's browser panel (a user's click on it).
//
// Named to load before "vorn-zorva": OBS loads user plugins in name order.
// With ZORVA_PROBE_CA_FILE set, the process trusts that certificate
// authority, so that the module reaches the sample Vek over TLS.

#include "docks/BrowserPanel.h"

#include <QApplication>
#include <QDockWidget>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMainWindow>
#include <QMetaObject>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>

#include <obs-frontend-api.h>
#include <obs-module.h>
#include <obs-websocket-api.h>

OBS_DECLARE_MODULE()

namespace {

const char *eventName(obs_frontend_event event)
{
	switch (event) {
	case OBS_FRONTEND_EVENT_FINISHED_LOADING:
		return "FINISHED_LOADING";
	case OBS_FRONTEND_EVENT_EXIT:
		return "EXIT";
	case OBS_FRONTEND_EVENT_SCRIPTING_SHUTDOWN:
		return "SCRIPTING_SHUTDOWN";
	case OBS_FRONTEND_EVENT_PROFILE_CHANGED:
		return "PROFILE_CHANGED";
	case OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED:
		return "SCENE_COLLECTION_CHANGED";
	case OBS_FRONTEND_EVENT_SCENE_CHANGED:
		return "SCENE_CHANGED";
	default:
		return nullptr;
	}
}

QMainWindow *mainWindow()
{
	return static_cast<QMainWindow *>(obs_frontend_get_main_window());
}

QJsonArray docks()
{
	QJsonArray list;
	QMainWindow *window = mainWindow();
	if (!window)
		return list;
	for (QDockWidget *dock : window->findChildren<QDockWidget *>()) {
		list.append(QJsonObject{{"id", dock->objectName()},
					{"title", dock->windowTitle()},
					{"visible", dock->isVisible()},
					{"floating", dock->isFloating()},
					{"area", int(window->dockWidgetArea(dock))},
					{"hasContent", dock->widget() != nullptr}});
	}
	return list;
}

void logDocks(const char *when)
{
	const QByteArray text = QJsonDocument(docks()).toJson(QJsonDocument::Compact);
	blog(LOG_INFO, "[real-obs-probe] docks %s %s", when, text.constData());
}

void onFrontendEvent(obs_frontend_event event, void *)
{
	if (const char *name = eventName(event))
		blog(LOG_INFO, "[real-obs-probe] frontend event %s", name);
	if (event == OBS_FRONTEND_EVENT_FINISHED_LOADING)
		logDocks("at FINISHED_LOADING");
}

// Answers on obs-websocket's thread once the UI thread has run `task`.
template<typename Task> void onUiThread(Task task, Qt::ConnectionType type)
{
	QMetaObject::invokeMethod(qApp, std::move(task), type);
}

void setResponse(obs_data_t *response, const QJsonObject &object)
{
	obs_data_t *data = obs_data_create_from_json(QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
	obs_data_apply(response, data);
	obs_data_release(data);
}

void docksRequest(obs_data_t *, obs_data_t *response, void *)
{
	QJsonArray list;
	onUiThread([&list] { list = docks(); }, Qt::BlockingQueuedConnection);
	setResponse(response, QJsonObject{{"docks", list}});
}

// What a user's click on the window's close button does.
void closeMainWindowRequest(obs_data_t *, obs_data_t *response, void *)
{
	onUiThread(
		[] {
			blog(LOG_INFO, "[real-obs-probe] closing the main window");
			if (QMainWindow *window = mainWindow())
				window->close();
		},
		Qt::QueuedConnection);
	setResponse(response, QJsonObject{{"closing", true}});
}

// OBS's own widgets as Qt paints them, with the browser panels' docks as the
// X server shows them: their pages are drawn outside Qt's painting.
QPixmap pictureOf(QMainWindow *window)
{
	QPixmap picture = window->grab();
	const QPixmap screen = window->screen()->grabWindow(window->winId());
	QPainter painter(&picture);
	for (QDockWidget *dock : window->findChildren<QDockWidget *>()) {
		if (!dock->isVisible() || dock->isFloating() ||
		    !dock->objectName().startsWith(QLatin1String("vorn-zorva")))
			continue;
		const QRect area(dock->mapTo(window, QPoint(0, 0)), dock->size());
		painter.drawPixmap(area.topLeft(), screen, area);
	}
	return picture;
}

void screenshotRequest(obs_data_t *request, obs_data_t *response, void *)
{
	const QString file = QString::fromUtf8(obs_data_get_string(request, "file"));
	bool saved = false;
	onUiThread(
		[&] {
			QMainWindow *window = mainWindow();
			if (!window)
				return;
			saved = pictureOf(window).save(file, "PNG");
		},
		Qt::BlockingQueuedConnection);
	setResponse(response, QJsonObject{{"saved", saved}});
}

// The panel is found by class name: whichever host made it carries its own
// meta-object for the interface, and the interface's calls are virtual.
void runInDockRequest(obs_data_t *request, obs_data_t *response, void *)
{
	const QString id = QString::fromUtf8(obs_data_get_string(request, "id"));
	const std::string script = obs_data_get_string(request, "script");
	bool ran = false;
	onUiThread(
		[&] {
			QMainWindow *window = mainWindow();
			QDockWidget *dock = window ? window->findChild<QDockWidget *>(id) : nullptr;
			for (QWidget *widget : dock ? dock->findChildren<QWidget *>() : QList<QWidget *>()) {
				if (widget->inherits("QCefWidget")) {
					static_cast<QCefWidget *>(widget)->executeJavaScript(script);
					ran = true;
					return;
				}
			}
		},
		Qt::BlockingQueuedConnection);
	setResponse(response, QJsonObject{{"ran", ran}});
}

// The libraries OBS runs with, which may differ from those it was built with.
void versionsRequest(obs_data_t *, obs_data_t *response, void *)
{
	setResponse(response, QJsonObject{{"libobs", QString::fromUtf8(obs_get_version_string())},
					  {"qt", QString::fromLatin1(qVersion())}});
}

void trustConfiguredAuthority()
{
	const QByteArray file = qgetenv("ZORVA_PROBE_CA_FILE");
	if (file.isEmpty())
		return;
	QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
	configuration.addCaCertificates(QSslCertificate::fromPath(QString::fromUtf8(file)));
	QSslConfiguration::setDefaultConfiguration(configuration);
	blog(LOG_INFO, "[real-obs-probe] trusting %s", file.constData());
}

} // namespace

bool obs_module_load(void)
{
	blog(LOG_INFO, "[real-obs-probe] load");
	trustConfiguredAuthority();
	obs_frontend_add_event_callback(&onFrontendEvent, nullptr);
	return true;
}

void obs_module_post_load(void)
{
	blog(LOG_INFO, "[real-obs-probe] post-load");
	obs_websocket_vendor vendor = obs_websocket_register_vendor("real-obs-probe");
	const bool registered =
		vendor && obs_websocket_vendor_register_request(vendor, "docks", &docksRequest, nullptr) &&
		obs_websocket_vendor_register_request(vendor, "closeMainWindow", &closeMainWindowRequest, nullptr) &&
		obs_websocket_vendor_register_request(vendor, "screenshot", &screenshotRequest, nullptr) &&
		obs_websocket_vendor_register_request(vendor, "versions", &versionsRequest, nullptr) &&
		obs_websocket_vendor_register_request(vendor, "runInDock", &runInDockRequest, nullptr);
	blog(registered ? LOG_INFO : LOG_WARNING, "[real-obs-probe] vendor %s",
	     registered ? "registered" : "not registered");
}

void obs_module_unload(void)
{
	blog(LOG_INFO, "[real-obs-probe] unload");
}
