#include "auth/JsonReply.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTimer>

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

ReplyWait waitForReply(QNetworkReply *reply, std::chrono::milliseconds timeout)
{
	QEventLoop loop;
	QTimer timer;
	timer.setSingleShot(true);
	QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
	QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
	timer.start(timeout);
	loop.exec();
	// The loop's end alone says nothing: the reply is asked, and a timer
	// still running means the time did not run out.
	if (reply->isFinished())
		return ReplyWait::Finished;
	return timer.isActive() ? ReplyWait::Interrupted : ReplyWait::TimedOut;
}

QString redactTokens(const QString &text)
{
	// A JSON string value runs to its closing quote or, cut short, to the end.
	// Built per call: this runs only on the way to a warning.
	const QRegularExpression jsonMember(
		QStringLiteral(R"re(("(?:access_token|refresh_token|id_token|token)"\s*:\s*")(?:[^"\\]|\\.)*)re"));
	const QRegularExpression formItem(
		QStringLiteral(R"re(\b((?:access_token|refresh_token|id_token|token)=)[^&\s]*)re"));
	QString redacted = text;
	redacted.replace(jsonMember, QStringLiteral("\\1<redacted>"));
	redacted.replace(formItem, QStringLiteral("\\1<redacted>"));
	return redacted;
}
