#pragma once

#include "SampleHttpService.h"

// The sample Zorva web application and dock pages, served from a folder:
// the shim with the main and accounts views, the chat and stream-manager
// pages, the login redirect page and the pictures the module links to.
class SampleWebApp : public SampleHttpService {
	Q_OBJECT

public:
	explicit SampleWebApp(QString pagesDir, QObject *parent = nullptr);

protected:
	Response serve(const Request &request) override;

private:
	QString pagesDir;
};
