// The one place the deployment's endpoints enter the code. A build of the
// module for end-to-end tests compiles this file with loopback endpoints.

#include "values/ServiceEndpoints.h"

#include "BuildConfig.h"

ServiceEndpoints::ServiceEndpoints()
	: accountBaseUrl(QStringLiteral(ZORVA_ACCOUNT_BASE_URL)),
	  accountLoginUrl(QStringLiteral(ZORVA_ACCOUNT_LOGIN_URL)),
	  accountRedirectUrl(QStringLiteral(ZORVA_ACCOUNT_REDIRECT_URL)),
	  accountPostLogoutUrl(QStringLiteral(ZORVA_ACCOUNT_POST_LOGOUT_URL)),
	  vekApiBaseUrl(QStringLiteral(ZORVA_VEK_API_BASE_URL)), webAppBaseUrl(QStringLiteral(ZORVA_WEB_APP_BASE_URL)),
	  dockPagesBaseUrl(QStringLiteral(ZORVA_DOCK_PAGES_BASE_URL)), iconUrl(QStringLiteral(ZORVA_ICON_URL)),
	  avatarUrl(QStringLiteral(ZORVA_AVATAR_URL)), siteUrl(QStringLiteral(ZORVA_SITE_URL))
{
}
