#pragma once

#include <QByteArray>
#include <QString>
#include <QUrlQuery>

// What the login callback listener makes of the bytes a browser sent.
struct CallbackRequest {
	enum class Outcome {
		Incomplete,  // no complete request head yet
		Invalid,     // request line with fewer than two parts
		UnknownPath, // a path other than "/callback"
		Callback,    // the callback, with its query
	};
	Outcome outcome = Outcome::Incomplete;
	QUrlQuery query;
};

CallbackRequest parseCallbackRequest(const QByteArray &bytes);

// The fully decoded value of a callback or redirect query item; empty when absent.
QString decodedQueryItem(const QUrlQuery &query, const char *name);

// The complete HTTP response with the login result page.
QByteArray callbackPageResponse(bool success, const QString &message, const QString &iconUrl);
