#pragma once

#include "docks/DockKind.h"
#include "host/HostBootstrap.h"

#include <functional>
#include <memory>

#include <QString>
#include <QWidget>

class AuthController;
struct QCef;
class QCefWidget;

// The widget inside one dock: hosts one obs-browser panel showing a page.
class ZorvaDock : public QWidget {
	Q_OBJECT

public:
	// Page URLs shared by the four docks; empty means not yet set.
	struct UrlState {
		QString accountsUrl;
		QString mainUrl;
		QString chatUrl;
		QString streamInfoUrl;
	};

	using EventProxyUrlProvider = std::function<QString()>;
	using BootstrapProvider = std::function<ObsWebSocketBootstrap()>;

	ZorvaDock(DockKind kind, QCef *panelHost, AuthController *authController, std::shared_ptr<UrlState> urlState,
		  EventProxyUrlProvider eventProxyUrlProvider, BootstrapProvider bootstrapProvider,
		  QWidget *parent = nullptr);
	~ZorvaDock() override;

	// Drops the auth controller connections and closes the browser panel.
	void shutdownPanels();

public Q_SLOTS:
	void restoreAccountsTab();
	void refreshHostTabs();
	void refreshEventProxyTabs();

private Q_SLOTS:
	void onBrowserUrlChanged(const QString &url);
	void updateAccessToken();

protected:
	void showEvent(QShowEvent *event) override;

private:
	QString configuredUrl() const;
	QString pageUrl() const;
	QString accessToken() const;
	QWidget *createPanel(const QString &url);
	QCefWidget *&panelOfKind();
	void reloadPanel();

	DockKind kind;
	QCef *panelHost;
	AuthController *authController;
	std::shared_ptr<UrlState> urlState;
	EventProxyUrlProvider eventProxyUrlProvider;
	BootstrapProvider bootstrapProvider;
	QCefWidget *accountsPanel = nullptr;
	QCefWidget *mainPanel = nullptr;
	QCefWidget *chatPanel = nullptr;
	QCefWidget *streamManagerPanel = nullptr;
	// The token the panel's start-up script carries.
	QString startupToken;
};
