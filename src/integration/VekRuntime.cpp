#include "integration/VekRuntime.h"

#include "proxy/EventProxyServer.h"

VekRuntime::VekRuntime(QObject *parent) : QObject(parent) {}

VekRuntime::~VekRuntime()
{
	stop();
}

void VekRuntime::setEventProxy(EventProxyServer *proxy)
{
	eventProxy = proxy;
}

void VekRuntime::syncIntegrations(QJsonArray integrations)
{
	snapshot = std::move(integrations);
}

void VekRuntime::handleProxyRequest(std::string, nlohmann::json) {}

void VekRuntime::handleProxyPassthrough(std::string, nlohmann::json) {}

void VekRuntime::stop()
{
	snapshot = QJsonArray();
}
