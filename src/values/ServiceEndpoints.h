#pragma once

#include <QString>

// The remote endpoints the module talks to. A default-constructed value holds
// the deployment's endpoints (the ZORVA_* build settings); the wiring always
// uses those, while tests hand in loopback addresses.
struct ServiceEndpoints {
	ServiceEndpoints();

	QString accountBaseUrl;       // no trailing slash
	QString accountLoginUrl;      // ends in "/"
	QString accountRedirectUrl;   // registered redirect page
	QString accountPostLogoutUrl; // post-logout page
	QString vekApiBaseUrl;        // https, path "/v2/vek"
	QString webAppBaseUrl;        // with trailing "/"
	QString dockPagesBaseUrl;     // no trailing slash
	QString iconUrl;              // login result page icon
	QString avatarUrl;            // simulated users' picture (SVG)
	QString siteUrl;              // simulated users' link
};
