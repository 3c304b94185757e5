#pragma once

#include <chrono>

#include <QJsonObject>
#include <QString>

class QNetworkReply;

// The JSON object of a finished reply; on failure an empty object and the
// error text ("Missing network reply.", "<error>: <body>", "Expected a JSON
// object response." or the object's own "error" string).
QJsonObject readJsonReply(QNetworkReply *reply, QString &error);

// A reader's error text made fit for the log. The text may quote the body of
// a reply, and a token answer whose connection broke off carries tokens: the
// values of the members and form items access_token, refresh_token, id_token
// and token become "<redacted>", also when the text ends inside a value.
QString redactTokens(const QString &text);

// How a wait for a reply ended. Only a finished reply has an answer to read.
enum class ReplyWait {
	Finished,
	TimedOut,    // the time ran out first; the reply is still unfinished
	Interrupted, // the application is quitting; the reply is still unfinished
};

// Waits in a nested event loop until the reply has finished, at most
// `timeout`. QCoreApplication::exit() ends every nested loop as OBS quits,
// and a wait that ends so, or begins after it, is Interrupted.
ReplyWait waitForReply(QNetworkReply *reply, std::chrono::milliseconds timeout);
