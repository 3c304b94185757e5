#include "docks/ZorvaDock.h"

#include "auth/AuthController.h"
#include "docks/BrowserPanel.h"
#include "host/Json.h"
#include "plugin/ServiceEndpoints.h"

#include <QDockWidget>
#include <QJsonDocument>
#include <QLabel>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>
#include <QVBoxLayout>

#include <obs.h>

namespace {

const char *const kPluginVersion = "0.0.6";
constexpr int kAccountsReloadDelayMs = 750;

const char kStartupScriptTemplate[] = "\n"
				      "(() => {\n"
				      "  const config = %1;\n"
				      "  function setVornAccessToken(token) {\n"
				      "    const value = typeof token === \"string\" ? token : \"\";\n"
				      "    window.__vornAccessToken = value;\n"
				      "    window._vornAccessToken = value;\n"
				      "    window.dispatchEvent(new CustomEvent(\"vornAccessTokenChanged\"));\n"
				      "  }\n"
				      "\n"
				      "  setVornAccessToken(config.accessToken || \"\");\n"
				      "})();\n";

const char kTokenUpdateScriptTemplate[] =
	"\n"
	"(() => {\n"
	"  const payload = %1;\n"
	"  const value = typeof payload.accessToken === \"string\" ? payload.accessToken : \"\";\n"
	"  window.__vornAccessToken = value;\n"
	"  window._vornAccessToken = value;\n"
	"  window.dispatchEvent(new CustomEvent(\"vornAccessTokenChanged\"));\n"
	"})();\n";

QString shimUrl(const QString &base, const QString &target)
{
	QUrl url(base);
	url.setPath(QStringLiteral("/shim.html"));
	QUrlQuery query;
	query.addQueryItem(QStringLiteral("url"), QString::fromUtf8(QUrl::toPercentEncoding(target)));
	url.setQuery(query);
	return url.toString(QUrl::FullyEncoded);
}

QString defaultUrlOf(DockKind kind)
{
	const ServiceEndpoints endpoints;
	switch (kind) {
	case DockKind::Main:
		return shimUrl(endpoints.webAppBaseUrl, endpoints.webAppBaseUrl);
	case DockKind::Accounts:
		return shimUrl(endpoints.webAppBaseUrl, endpoints.dockPagesBaseUrl + QStringLiteral("/accounts"));
	case DockKind::Chat:
		return endpoints.dockPagesBaseUrl + QStringLiteral("/chat");
	case DockKind::StreamManager:
		return endpoints.dockPagesBaseUrl + QStringLiteral("/stream-info");
	}
	return {};
}

void replaceQueryItem(QUrlQuery &query, const QString &key, const QString &value)
{
	query.removeAllQueryItems(key);
	query.addQueryItem(key, QString::fromUtf8(QUrl::toPercentEncoding(value)));
}

QString hostDecorated(const QString &text, const ObsWebSocketBootstrap &b)
{
	QUrl url(text);
	if (!url.isValid() || url.path(QUrl::FullyDecoded) != QStringLiteral("/shim.html"))
		return text;

	json ow = {{"h", b.host.toStdString()},
		   {"p", b.port},
		   {"pw", b.password.toStdString()},
		   {"s", b.ssl},
		   {"v", b.version.toStdString()},
		   {"r", b.rpcVersion},
		   {"vn", b.vendorName.toStdString()},
		   {"vr", b.vendorRequestType.toStdString()},
		   {"ve", b.vendorEventType.toStdString()},
		   {"en", b.enabled}};
	if (!b.error.isEmpty())
		ow["e"] = b.error.toStdString();

	QUrlQuery query(url);
	replaceQueryItem(query, QStringLiteral("ov"), QString::fromUtf8(obs_get_version_string()));
	replaceQueryItem(query, QStringLiteral("pv"), QString::fromLatin1(kPluginVersion));
	replaceQueryItem(query, QStringLiteral("ow"), QString::fromStdString(compactJson(ow)));
	url.setQuery(query);
	return url.toString(QUrl::FullyEncoded);
}

QString eventProxyDecorated(const QString &text, const QString &proxyUrl)
{
	const QString proxy = proxyUrl.trimmed();
	if (proxy.isEmpty())
		return text;
	static const QString marker = QStringLiteral("vornurl=");
	const qsizetype at = text.indexOf(marker);
	if (at < 0)
		return text + (text.contains(QLatin1Char('?')) ? QStringLiteral("&") : QStringLiteral("?")) + marker +
		       proxy;
	const qsizetype valueStart = at + marker.size();
	qsizetype valueEnd = text.indexOf(QLatin1Char('&'), valueStart);
	if (valueEnd < 0)
		valueEnd = text.size();
	QString result = text;
	result.replace(valueStart, valueEnd - valueStart, proxy);
	return result;
}

QString tokenScript(const char *scriptTemplate, const QString &token)
{
	const json config = {{"accessToken", token.toStdString()}};
	return QString::fromUtf8(scriptTemplate).arg(QString::fromStdString(compactJson(config)));
}

QLabel *fallbackLabel(QWidget *parent)
{
	auto *label = new QLabel(QStringLiteral("OBS browser panels are unavailable."), parent);
	label->setAlignment(Qt::AlignCenter);
	label->setWordWrap(true);
	return label;
}

} // namespace

ZorvaDock::ZorvaDock(DockKind kind, QCef *panelHost, AuthController *authController,
		     std::shared_ptr<UrlState> urlState, EventProxyUrlProvider eventProxyUrlProvider,
		     BootstrapProvider bootstrapProvider, QWidget *parent)
	: QWidget(parent),
	  kind(kind),
	  panelHost(panelHost),
	  authController(authController),
	  urlState(std::move(urlState)),
	  eventProxyUrlProvider(std::move(eventProxyUrlProvider)),
	  bootstrapProvider(std::move(bootstrapProvider))
{
	if (this->urlState) {
		for (auto [field, fieldKind] : {std::pair{&UrlState::accountsUrl, DockKind::Accounts},
						std::pair{&UrlState::mainUrl, DockKind::Main},
						std::pair{&UrlState::chatUrl, DockKind::Chat},
						std::pair{&UrlState::streamInfoUrl, DockKind::StreamManager}}) {
			QString &value = (*this->urlState).*field;
			if (value.isEmpty())
				value = defaultUrlOf(fieldKind);
		}
	}

	auto *layout = new QVBoxLayout(this);
	layout->setContentsMargins(0, 0, 0, 0);
	layout->setSpacing(0);

	const int kindValue = int(kind);
	if (kindValue >= 0 && kindValue <= 3)
		layout->addWidget(createPanel(pageUrl()), 1);

	if (authController) {
		connect(authController, &AuthController::redirectConsumed, this, &ZorvaDock::restoreAccountsTab);
		connect(authController, &AuthController::statusChanged, this, &ZorvaDock::updateAccessToken);
	}
}

ZorvaDock::~ZorvaDock() = default;

QString ZorvaDock::configuredUrl() const
{
	if (!urlState)
		return defaultUrlOf(kind);
	switch (kind) {
	case DockKind::Main:
		return urlState->mainUrl;
	case DockKind::Accounts:
		return urlState->accountsUrl;
	case DockKind::Chat:
		return urlState->chatUrl;
	case DockKind::StreamManager:
		return urlState->streamInfoUrl;
	}
	return {};
}

QString ZorvaDock::pageUrl() const
{
	const QString url = configuredUrl();
	switch (kind) {
	case DockKind::Main:
	case DockKind::Accounts:
		return hostDecorated(url, bootstrapProvider ? bootstrapProvider() : ObsWebSocketBootstrap());
	case DockKind::Chat:
	case DockKind::StreamManager:
		return eventProxyDecorated(url, eventProxyUrlProvider ? eventProxyUrlProvider() : QString());
	}
	return url;
}

QString ZorvaDock::accessToken() const
{
	return authController ? authController->currentAccessToken() : QString();
}

QWidget *ZorvaDock::createPanel(const QString &url)
{
	if (!panelHost)
		return fallbackLabel(this);

	auto *container = new QWidget(this);
	container->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
	auto *layout = new QVBoxLayout(container);
	layout->setContentsMargins(0, 0, 0, 0);
	layout->setSpacing(0);

	QCefWidget *panel = panelHost->create_widget(container, url.toStdString(), nullptr);
	if (!panel) {
		QLabel *label = fallbackLabel(container);
		label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
		layout->addWidget(label, 1);
		return container;
	}

	panel->setStartupScript(tokenScript(kStartupScriptTemplate, accessToken()).toStdString());
	panel->allowAllPopups(true);
	panel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
	// By signature text: obs-browser carries its own meta-object for QCefWidget.
	connect(panel, SIGNAL(urlChanged(QString)), this, SLOT(onBrowserUrlChanged(QString)));
	layout->addWidget(panel, 1);
	panelOfKind() = panel;
	return container;
}

QCefWidget *&ZorvaDock::panelOfKind()
{
	switch (kind) {
	case DockKind::Accounts:
		return accountsPanel;
	case DockKind::Chat:
		return chatPanel;
	case DockKind::StreamManager:
		return streamManagerPanel;
	case DockKind::Main:
		break;
	}
	return mainPanel;
}

void ZorvaDock::shutdownPanels()
{
	if (authController)
		authController->disconnect(this);
	for (QCefWidget **panel : {&accountsPanel, &mainPanel, &chatPanel, &streamManagerPanel}) {
		if (!*panel)
			continue;
		(*panel)->disconnect();
		(*panel)->closeBrowser();
		*panel = nullptr;
	}
}

void ZorvaDock::reloadPanel()
{
	if (QCefWidget *panel = panelOfKind())
		panel->setURL(pageUrl().toStdString());
}

void ZorvaDock::refreshHostTabs()
{
	if (kind == DockKind::Main || kind == DockKind::Accounts)
		reloadPanel();
}

void ZorvaDock::refreshEventProxyTabs()
{
	if (kind == DockKind::Chat || kind == DockKind::StreamManager)
		reloadPanel();
}

void ZorvaDock::updateAccessToken()
{
	if (QCefWidget *panel = panelOfKind())
		panel->executeJavaScript(tokenScript(kTokenUpdateScriptTemplate, accessToken()).toStdString());
}

void ZorvaDock::onBrowserUrlChanged(const QString &url)
{
	if (authController)
		authController->handleRedirect(QUrl(url, QUrl::TolerantMode));
}

void ZorvaDock::restoreAccountsTab()
{
	if (kind != DockKind::Accounts || !accountsPanel)
		return;
	for (QWidget *widget = parentWidget(); widget; widget = widget->parentWidget()) {
		if (auto *dock = qobject_cast<QDockWidget *>(widget)) {
			dock->setFloating(false);
			dock->setVisible(true);
			dock->raise();
			break;
		}
	}
	QTimer::singleShot(kAccountsReloadDelayMs, this, [this] {
		if (accountsPanel)
			accountsPanel->setURL(pageUrl().toStdString());
	});
}

void ZorvaDock::showEvent(QShowEvent *event)
{
	QWidget::showEvent(event);
	QTimer::singleShot(0, this, [this] { reloadPanel(); });
}
