#include "panelhost/SharedProfile.h"

#include "obs/Log.h"

#include <QDir>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

namespace {

QString configuredPath;
QWebEngineProfile *shared = nullptr;
int livePages = 0;
bool unloading = false;

// A page, even one loaded from a file, reads no local file but itself.
QWebEngineProfile *restricted(QWebEngineProfile *profile)
{
	QWebEngineSettings *settings = profile->settings();
	settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
	settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
	return profile;
}

QWebEngineProfile *makeProfile()
{
	if (configuredPath.isEmpty()) {
		logInfo("Browser panel profile kept in memory.");
		return restricted(new QWebEngineProfile());
	}
	// A named profile is a persistent one; the cache goes beside the storage
	// so that two hosts with different folders never share files.
	auto *profile = new QWebEngineProfile(QStringLiteral("vorn-zorva"));
	profile->setPersistentStoragePath(configuredPath);
	profile->setCachePath(QDir(configuredPath).filePath(QStringLiteral("cache")));
	logInfo("Browser panel profile stored in %s", configuredPath.toUtf8().constData());
	return restricted(profile);
}

void dropWhenUnused()
{
	if (!unloading || livePages > 0 || !shared)
		return;
	delete shared;
	shared = nullptr;
}

} // namespace

namespace SharedProfile {

void setStoragePath(const QString &path)
{
	configuredPath = path;
}

QString storagePath()
{
	return configuredPath;
}

QWebEngineProfile *profile()
{
	if (!shared)
		shared = makeProfile();
	return shared;
}

void addPage()
{
	++livePages;
}

void removePage()
{
	--livePages;
	dropWhenUnused();
}

void moduleLoaded()
{
	unloading = false;
}

void moduleUnloading()
{
	unloading = true;
	dropWhenUnused();
}

} // namespace SharedProfile
