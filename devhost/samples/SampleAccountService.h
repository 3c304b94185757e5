#pragma once

#include "SampleHttpService.h"

#include <QHash>
#include <QUrlQuery>

// The Vorn account service for the development host: an authorize page that
// approves at a click and hands code and state to the registered redirect
// page, a token endpoint that checks PKCE and issues tokens, a logout page.
class SampleAccountService : public SampleHttpService {
	Q_OBJECT

public:
	using SampleHttpService::SampleHttpService;

protected:
	Response serve(const Request &request) override;

private:
	static Response authorizePage(const QUrlQuery &query);
	Response approve(const QUrlQuery &query);
	Response token(const Request &request);
	static QByteArray tokenResponse(const QString &subject);
	static Response tokenError(const char *error, const char *description);

	// Authorization codes not yet exchanged, with their PKCE challenge.
	QHash<QString, QString> challenges;
};
