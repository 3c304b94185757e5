#pragma once

#include "SampleHttpService.h"

#include <QHash>

// The Vorn account service for the development host: an authorize page that
// approves at a click and hands code and state to the registered redirect
// page, a token endpoint that checks PKCE and issues tokens, a logout page.
class SampleAccountService : public SampleHttpService {
	Q_OBJECT

public:
	using SampleHttpService::SampleHttpService;

protected:
	void serve(const QHttpServerRequest &request, QHttpServerResponder &responder) override;

private:
	void authorizePage(const QUrlQuery &query, QHttpServerResponder &responder);
	void approve(const QUrlQuery &query, QHttpServerResponder &responder);
	void token(const QHttpServerRequest &request, QHttpServerResponder &responder);
	static QByteArray tokenResponse(const QString &subject);
	static void tokenError(QHttpServerResponder &responder, const char *error, const char *description);

	// Authorization codes not yet exchanged, with their PKCE challenge.
	QHash<QString, QString> challenges;
};
