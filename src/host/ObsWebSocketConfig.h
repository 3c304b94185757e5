#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// What obs-websocket's configuration file says about its server. A key counts
// only with the expected JSON type; otherwise its default stays.
struct ObsWebSocketConfig {
	bool enabled = false;
	quint16 port = 4455;
	QString password;
	QString version = QStringLiteral("5.0.0");
	qint32 rpcVersion = 1;
	bool authRequired = false;
	// Why these settings cannot work, without asking the server; empty when
	// they may. The texts are the ones the pages show.
	QString error;
};

// Reads the file's text. Text that is not a JSON object counts as empty
// settings, which say the server is disabled.
ObsWebSocketConfig parseObsWebSocketConfig(const QByteArray &text);
