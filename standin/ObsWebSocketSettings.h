#pragma once

#include <QString>
#include <QtGlobal>

// What obs-websocket keeps in its config.json, and the file itself: where it
// is, how it is read, and the defaults a first start of obs-websocket writes.
struct ObsWebSocketSettings {
	bool enabled = false;
	quint16 port = 4455;
	bool authRequired = false;
	QString password;

	// obs-websocket's config file under the user's config folder (the one the
	// module reads), or empty when libobs cannot name it.
	static QString path();
	// A missing or unreadable file, or one that is not a JSON object, gives
	// the defaults: a disabled server.
	static ObsWebSocketSettings read(const QString &path);
	// Writes the defaults a first start of obs-websocket would (enabled, port
	// 4455, authentication with a fresh 16-character password) unless the file
	// exists. False when it neither exists nor could be written.
	static bool ensureDefaults(const QString &path);
};
