#pragma once

#include "host/ObsWebSocketNames.h"

#include <QJsonObject>
#include <QString>
#include <QtGlobal>

class AuthController;
class ObsWebSocketDiscovery;

// How the pages reach obs-websocket, with the reason when they cannot.
struct ObsWebSocketBootstrap {
	QString host = QStringLiteral("127.0.0.1");
	quint16 port = 4455;
	QString password;
	bool ssl = false;
	QString version = QStringLiteral("5.0.0");
	qint32 rpcVersion = 1;
	QString vendorName = QString::fromLatin1(ObsWebSocketNames::vendorName);
	QString vendorRequestType = QString::fromLatin1(ObsWebSocketNames::requestType);
	QString vendorEventType = QString::fromLatin1(ObsWebSocketNames::eventType);
	bool enabled = false;
	QString error; // empty: usable

	QJsonObject toJson() const;
};

// Everything a page needs to know about its host.
struct HostBootstrap {
	QString host;
	QString obsVersion;
	QString pluginVersion;
	QString sessionToken;
	QString accessToken;
	QString eventProxyUrl;
	QJsonObject capabilities;
	ObsWebSocketBootstrap obsWebSocket;

	QJsonObject toJson() const;
};

// What the bootstrap is built from; the module passes its own state.
struct HostBootstrapSources {
	const AuthController *authController = nullptr;
	const ObsWebSocketDiscovery *discovery = nullptr;
	quint16 eventProxyPort = 0;
	QString eventProxyToken;
};

QJsonObject hostCapabilities();
QString eventProxyUrl(quint16 port, const QString &token);
HostBootstrap buildHostBootstrap(const HostBootstrapSources &sources);
QJsonObject statusWithHostBootstrap(const HostBootstrapSources &sources);
