#include "SharedProfile.h"

#include <QDir>
#include <QWebEngineProfile>

#include <util/base.h>

namespace {

QString configuredPath;
QWebEngineProfile *shared = nullptr;
int livePages = 0;
bool unloading = false;

QWebEngineProfile *makeProfile()
{
	if (configuredPath.isEmpty()) {
		blog(LOG_INFO, "[obs-browser] WebEngine profile kept in memory");
		return new QWebEngineProfile();
	}
	// A named profile is a persistent one; the cache goes beside the storage
	// so that two hosts with different folders never share files.
	auto *profile = new QWebEngineProfile(QStringLiteral("obs-browser"));
	profile->setPersistentStoragePath(configuredPath);
	profile->setCachePath(QDir(configuredPath).filePath(QStringLiteral("cache")));
	blog(LOG_INFO, "[obs-browser] WebEngine profile stored in %s", configuredPath.toUtf8().constData());
	return profile;
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
