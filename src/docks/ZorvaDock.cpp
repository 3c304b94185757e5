#include "docks/ZorvaDock.h"

#include "auth/AuthController.h"
#include "docks/BrowserPanel.h"
#include "docks/DockPageUrls.h"

#include <chrono>

#include <QDockWidget>
#include <QLabel>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace {

constexpr std::chrono::milliseconds kAccountsReloadDelay{750};

QLabel *fallbackLabel(QWidget *parent)
{
	auto *label = new QLabel(QStringLiteral("OBS browser panels are unavailable."), parent);
	label->setAlignment(Qt::AlignCenter);
	label->setWordWrap(true);
	return label;
}

} // namespace

ZorvaDock::ZorvaDock(DockKind dockKind, QCef *host, AuthController *controller, std::shared_ptr<UrlState> sharedUrls,
		     EventProxyUrlProvider eventProxyUrl, BootstrapProvider bootstrap, QWidget *parent)
	: QWidget(parent), kind(dockKind), panelHost(host), authController(controller), urlState(std::move(sharedUrls)),
	  eventProxyUrlProvider(std::move(eventProxyUrl)), bootstrapProvider(std::move(bootstrap))
{
	if (this->urlState) {
		for (auto [field, fieldKind] :
		     {std::pair{&UrlState::accountsUrl, DockKind::Accounts},
		      std::pair{&UrlState::mainUrl, DockKind::Main}, std::pair{&UrlState::chatUrl, DockKind::Chat},
		      std::pair{&UrlState::streamInfoUrl, DockKind::StreamManager}}) {
			QString &value = (*this->urlState).*field;
			if (value.isEmpty())
				value = defaultPageUrl(fieldKind, ServiceEndpoints());
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
		return defaultPageUrl(kind, ServiceEndpoints());
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
		return hostDecoratedUrl(url, bootstrapProvider ? bootstrapProvider() : ObsWebSocketBootstrap());
	case DockKind::Chat:
	case DockKind::StreamManager:
		return eventProxyDecoratedUrl(url, eventProxyUrlProvider ? eventProxyUrlProvider() : QString());
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

	startupToken = accessToken();
	panel->setStartupScript(accessTokenStartupScript(startupToken).toStdString());
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
	QCefWidget *panel = panelOfKind();
	if (!panel)
		return;
	const QString token = accessToken();
	panel->executeJavaScript(accessTokenUpdateScript(token).toStdString());
	// Pages loaded from now on (a reload, a navigation) start with this token,
	// not with the one current when the panel was made.
	if (token != startupToken) {
		startupToken = token;
		panel->setStartupScript(accessTokenStartupScript(token).toStdString());
	}
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
	QTimer::singleShot(kAccountsReloadDelay, this, [this] {
		if (accountsPanel)
			accountsPanel->setURL(pageUrl().toStdString());
	});
}

void ZorvaDock::showEvent(QShowEvent *event)
{
	QWidget::showEvent(event);
	QTimer::singleShot(0, this, [this] { reloadPanel(); });
}
