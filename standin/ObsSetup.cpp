#include "ObsSetup.h"

#include "auth/AuthStateFile.h"
#include "host/ObsWebSocketNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

ObsSetup::Folders ObsSetup::below(const QString &home)
{
	return {home + QStringLiteral("/xdg"), home + QStringLiteral("/plugin_config"),
		home + QStringLiteral("/obs-browser")};
}

QString ObsSetup::moduleName(const QString &moduleFile)
{
	return QFileInfo(moduleFile).completeBaseName();
}

ObsSetup::ObsSetup(Folders chosen) : folders(std::move(chosen))
{
	qputenv("XDG_CONFIG_HOME", folders.xdgConfigHome.toUtf8());
}

ObsSetup::~ObsSetup()
{
	shutdown();
}

QString ObsSetup::obsWebSocketConfigPath() const
{
	return QDir(folders.xdgConfigHome).filePath(QString::fromLatin1(ObsWebSocketNames::configRelativePath));
}

bool ObsSetup::writeObsWebSocketConfig(const QByteArray &json) const
{
	const QString path = obsWebSocketConfigPath();
	QDir().mkpath(QFileInfo(path).absolutePath());
	QFile file(path);
	return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(json) == json.size();
}

QString ObsSetup::moduleConfigFile(const QString &moduleName, const QString &name) const
{
	return QDir(folders.moduleConfigDir).filePath(moduleName + QLatin1Char('/') + name);
}

QString ObsSetup::authFilePath(const QString &moduleName) const
{
	return moduleConfigFile(moduleName, QStringLiteral("zorva-auth.json"));
}

void ObsSetup::seedAuth(const QString &moduleName, const AccountTokens &account,
			const std::vector<IntegrationRecord> &linked) const
{
	LinkedAccounts::Records records;
	for (const IntegrationRecord &record : linked)
		records[record.upid] = record;
	AuthStateFile(authFilePath(moduleName)).save(account, records);
}

bool ObsSetup::start()
{
	QDir().mkpath(folders.moduleConfigDir);
	return host.startup(folders.moduleConfigDir);
}

void ObsSetup::installObsWebSocket(const ObsWebSocketStandin::Options &options)
{
	ObsWebSocketStandin::instance().install(options);
}

bool ObsSetup::loadBrowser(const QString &file)
{
	QDir().mkpath(folders.browserDataDir);
	return host.loadModule(file, folders.browserDataDir);
}

bool ObsSetup::loadModule(const QString &file, const QString &dataDir)
{
	return host.loadModule(file, dataDir);
}

void ObsSetup::postLoad()
{
	host.postLoad();
}

void ObsSetup::shutdown()
{
	host.shutdown();
}
