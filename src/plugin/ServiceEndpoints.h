#pragma once

#include "BuildConfig.h"

#include <QString>

// The remote endpoints the module talks to. The wiring always uses the
// defaults of the deployment; tests hand in loopback addresses instead.
struct ServiceEndpoints {
	QString accountBaseUrl = QStringLiteral(ZORVA_ACCOUNT_BASE_URL);
	QString accountLoginUrl = QStringLiteral(ZORVA_ACCOUNT_LOGIN_URL);
	QString accountRedirectUrl = QStringLiteral(ZORVA_ACCOUNT_REDIRECT_URL);
	QString accountPostLogoutUrl = QStringLiteral(ZORVA_ACCOUNT_POST_LOGOUT_URL);
	QString vekApiBaseUrl = QStringLiteral(ZORVA_VEK_API_BASE_URL);
	QString webAppBaseUrl = QStringLiteral(ZORVA_WEB_APP_BASE_URL);
	QString dockPagesBaseUrl = QStringLiteral(ZORVA_DOCK_PAGES_BASE_URL);
	QString iconUrl = QStringLiteral(ZORVA_ICON_URL);
	QString avatarUrl = QStringLiteral(ZORVA_AVATAR_URL);
	QString siteUrl = QStringLiteral(ZORVA_SITE_URL);
};
