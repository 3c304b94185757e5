#pragma once

#include "docks/DockKind.h"
#include "host/HostBootstrap.h"
#include "values/ServiceEndpoints.h"

#include <QString>

// The pages the docks show and what they are told: page URLs carrying the
// obs-websocket parameters or the event proxy URL, and the scripts that hand
// the access token to the page.

// The base with path "/shim.html" and the single query item "url" = target.
QString shimUrl(const QString &base, const QString &target);
QString defaultPageUrl(DockKind kind, const ServiceEndpoints &endpoints);

// Shim pages get "ov", "pv" and "ow" (replacing earlier ones); other URLs
// are returned unchanged.
QString hostDecoratedUrl(const QString &url, const ObsWebSocketBootstrap &bootstrap);
// "vornurl=" with the raw proxy URL, appended or replacing the present value;
// unchanged while the proxy URL is blank.
QString eventProxyDecoratedUrl(const QString &url, const QString &proxyUrl);

// Set once per panel; runs before each page's own scripts.
QString accessTokenStartupScript(const QString &token);
// Run in the page whenever the auth state changes.
QString accessTokenUpdateScript(const QString &token);
