#include "integration/VekService.h"

#include <QUrl>

VekService VekService::fromEndpoints(const ServiceEndpoints &endpoints)
{
	const QUrl base(endpoints.vekApiBaseUrl);
	VekService service;
	service.restBaseUrl = endpoints.vekApiBaseUrl;
	service.apiHost = base.host();
	// The production URL names no port: TLS on 443 with a plain Host header.
	const int port = base.port(-1);
	service.realtimePort = port > 0 ? quint16(port) : quint16(443);
	service.hostHeader = port > 0 ? QStringLiteral("%1:%2").arg(service.apiHost).arg(port) : service.apiHost;
	service.origin = QStringLiteral("https://") + QUrl(endpoints.webAppBaseUrl).host();
	return service;
}
