#include "auth/JsonReply.h"

#include <QJsonDocument>
#include <QNetworkReply>

QJsonObject readJsonReply(QNetworkReply *reply, QString &error)
{
	error.clear();
	if (!reply) {
		error = QStringLiteral("Missing network reply.");
		return {};
	}
	const QByteArray body = reply->readAll();
	if (reply->error() != QNetworkReply::NoError) {
		error = QStringLiteral("%1: %2").arg(reply->errorString(), QString::fromUtf8(body));
		return {};
	}
	const QJsonDocument document = QJsonDocument::fromJson(body);
	if (!document.isObject()) {
		error = QStringLiteral("Expected a JSON object response.");
		return {};
	}
	const QJsonObject object = document.object();
	const QString serverError = object.value(QStringLiteral("error")).toString();
	if (!serverError.isEmpty()) {
		error = serverError;
		return {};
	}
	return object;
}

QJsonObject errorObject(const QString &error, const char *code)
{
	return QJsonObject{{QStringLiteral("error"), error}, {QStringLiteral("errorCode"), QString::fromLatin1(code)}};
}
