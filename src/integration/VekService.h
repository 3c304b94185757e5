#pragma once

#include "values/ServiceEndpoints.h"

#include <chrono>

#include <QString>
#include <QtGlobal>

// What the module fixes about the Vek service: its REST base, the realtime
// endpoint on the same host and the client id.
struct VekService {
	static constexpr const char *clientId = "Xq7Tn2LpW9cRv4HbZk1Md8Fs";

	QString restBaseUrl;  // https URL whose path is "/v2/vek"
	QString apiHost;      // host of the REST base, also the realtime host
	quint16 realtimePort; // 443, unless the base URL names another port
	QString hostHeader;   // apiHost, with ":port" when the base URL names one
	QString origin;       // "https://" and the host of the web application

	// Reconnect after a lost or failed connection.
	std::chrono::milliseconds retryDelay = std::chrono::seconds(5);
	// TCP, TLS, upgrade and the service's first message.
	std::chrono::milliseconds setupTimeout = std::chrono::seconds(15);
	// Transfer time-out of proxied REST requests.
	std::chrono::milliseconds requestTimeout = std::chrono::seconds(30);

	static VekService fromEndpoints(const ServiceEndpoints &endpoints);
};
