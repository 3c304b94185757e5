#pragma once

#include <QJsonObject>
#include <QString>

class QNetworkReply;

// The JSON object of a finished reply; on failure an empty object and the
// error text ("Missing network reply.", "<error>: <body>", "Expected a JSON
// object response." or the object's own "error" string).
QJsonObject readJsonReply(QNetworkReply *reply, QString &error);

// {"error": text, "errorCode": code}: how operations report a failure.
QJsonObject errorObject(const QString &error, const char *code);
