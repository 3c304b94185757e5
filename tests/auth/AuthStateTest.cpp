// The persisted auth file and the snapshots the pages and the runtime read.

#include "AuthTestSupport.h"

#include "auth/JwtClaims.h"

#include <sys/stat.h>

#include <QFile>

using namespace std::chrono_literals;

namespace {

QJsonObject linked(const char *platform, const char *token, const char *upid, const char *username)
{
	return {{"platform", platform}, {"token", token}, {"upid", upid}, {"username", username}};
}

mode_t modeOf(const QString &path)
{
	struct stat info;
	return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 0777 : 0;
}

} // namespace

TEST_F(AuthControllerTest, NoFileMeansLoggedOut)
{
	EXPECT_EQ(controller().accountStatus(), QJsonObject({{"authenticated", false},
							     {"email", ""},
							     {"displayName", ""},
							     {"subject", ""},
							     {"expiresAt", ""}}));
	EXPECT_EQ(controller().integrationsStatus(), QJsonObject());
	EXPECT_EQ(controller().statusSnapshot().keys(), QStringList({"account", "integrations", "vekEndpoint"}));
	EXPECT_EQ(controller().statusSnapshot().value("vekEndpoint").toString(), options.endpoints.vekApiBaseUrl);
	pumpEvents(50ms);
	EXPECT_TRUE(account.requests.isEmpty()); // no refresh without a refresh token
	EXPECT_FALSE(QFile::exists(options.stateFilePath));
}

TEST_F(AuthControllerTest, PersistenceRoundTripDropsIncompleteRecords)
{
	writeStateFile({{"account", QJsonObject{{"idToken", makeIdToken({{"sub", "s"}, {"given_name", "Ann"}})},
						{"accessToken", "AT"},
						{"refreshToken", ""},
						{"expiresAt", ""}}},
			{"integrations", QJsonArray{linked("TWITCH", "t1", "u2", "ann"), linked("KICK", "t2", "", "x"),
						    linked("", "t3", "u3", "y"), linked("twitch", "t4", "u1", "old"),
						    linked("TWITCH", "t5", "u1", "bob")}}});
	// Empty expiry counts as not expired.
	EXPECT_EQ(controller().currentAccessToken(), QStringLiteral("AT"));
	EXPECT_EQ(controller().accountStatus().value("displayName").toString(), QStringLiteral("Ann"));
	const QJsonArray snapshot = controller().integrationSnapshot();
	ASSERT_EQ(snapshot.size(), 2);
	EXPECT_EQ(snapshot[0].toObject(), linked("TWITCH", "t5", "u1", "bob")); // later element wins, UPID order
	EXPECT_EQ(snapshot[1].toObject(), linked("TWITCH", "t1", "u2", "ann"));

	// The next save writes only what was kept, owner-only, with a backup.
	controller().logoutIntegration(QStringLiteral("nobody"));
	const QJsonObject saved = readStateFile();
	EXPECT_EQ(saved.value("integrations").toArray(),
		  QJsonArray({linked("TWITCH", "t5", "u1", "bob"), linked("TWITCH", "t1", "u2", "ann")}));
	EXPECT_EQ(saved.value("account").toObject().value("accessToken").toString(), QStringLiteral("AT"));
	EXPECT_EQ(modeOf(options.stateFilePath), 0600u);
	EXPECT_TRUE(QFile::exists(options.stateFilePath + QStringLiteral(".bak")));
	EXPECT_EQ(modeOf(options.stateFilePath + QStringLiteral(".bak")), 0600u);
	EXPECT_FALSE(QFile::exists(options.stateFilePath + QStringLiteral(".tmp")));
}

// The module passes the auth file's path in; without one nothing is read or written.
TEST_F(AuthControllerTest, WithoutAStateFilePathNothingIsLoadedOrSaved)
{
	EXPECT_TRUE(AuthController::Options().stateFilePath.isEmpty());
	writeStateFile({{"account", QJsonObject{{"accessToken", "AT"}}}});
	const QByteArray before = [this] {
		QFile file(options.stateFilePath);
		return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
	}();
	const QString path = options.stateFilePath;
	options.stateFilePath.clear();
	EXPECT_EQ(controller().authStateFilePath(), QString());
	EXPECT_EQ(controller().currentAccessToken(), QString());
	controller().logoutAccount();
	controller().logoutIntegration(QStringLiteral("u1"));
	QFile file(path);
	ASSERT_TRUE(file.open(QIODevice::ReadOnly));
	EXPECT_EQ(file.readAll(), before);
	EXPECT_EQ(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files), QStringList({"zorva-auth.json"}));
}

// The file's exact bytes: libobs's compact JSON with sorted members, the
// linked accounts in UPID order.
TEST_F(AuthControllerTest, SavedFileBytesAreExact)
{
	writeStateFile({{"account", QJsonObject{{"expiresAt", "2031-05-06T07:08:09Z"},
						{"refreshToken", "RT"},
						{"accessToken", "AT"},
						{"idToken", "ID"}}},
			{"integrations",
			 QJsonArray{linked("KICK", "t2", "u2", "b\u00e9"), linked("TWITCH", "t1", "u1", "a")}}});
	controller().logoutIntegration(QStringLiteral("nobody"));
	QFile file(options.stateFilePath);
	ASSERT_TRUE(file.open(QIODevice::ReadOnly));
	EXPECT_EQ(
		file.readAll().toStdString(),
		R"({"account":{"accessToken":"AT","expiresAt":"2031-05-06T07:08:09Z","idToken":"ID","refreshToken":"RT"},)"
		R"("integrations":[{"platform":"TWITCH","token":"t1","upid":"u1","username":"a"},)"
		"{\"platform\":\"KICK\",\"token\":\"t2\",\"upid\":\"u2\",\"username\":\"b\xC3\xA9\"}]}");
}

TEST_F(AuthControllerTest, CorruptFileFallsBackToTheBackup)
{
	writeStateFile({{"integrations", QJsonArray{linked("YOUTUBE", "yt", "u9", "zoe")}}}, QStringLiteral(".bak"));
	QDir().mkpath(QFileInfo(options.stateFilePath).absolutePath());
	QFile corrupt(options.stateFilePath);
	ASSERT_TRUE(corrupt.open(QIODevice::WriteOnly));
	corrupt.write("{\"account\": {\"accessToken\": ");
	corrupt.close();
	EXPECT_EQ(controller().integrationSnapshot(), QJsonArray({linked("YOUTUBE", "yt", "u9", "zoe")}));
}

// The backup keeps the file as it was before a save, so that a lost or broken
// file still starts with the accounts it held; but an account signed out or
// unlinked leaves its tokens in no file, or a lost file would bring it back.
TEST_F(AuthControllerTest, SignedOutAccountsLeaveNoTokensInAnyFile)
{
	const auto fileBytes = [this](const char *suffix) {
		QFile file(options.stateFilePath + QString::fromLatin1(suffix));
		return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
	};
	const auto expectInNoFile = [&](std::initializer_list<const char *> secrets) {
		for (const char *suffix : {"", ".bak", ".tmp"}) {
			for (const char *secret : secrets)
				EXPECT_FALSE(fileBytes(suffix).contains(secret))
					<< secret << " in zorva-auth.json" << suffix;
		}
	};
	// The next start finds only the backup, which libobs then moves into place.
	const auto restartWithTheFileLost = [this] {
		instance.reset();
		ASSERT_TRUE(QFile::remove(options.stateFilePath));
	};
	writeStateFile({{"account", QJsonObject{{"idToken", "ID-gone"},
						{"accessToken", "AT-gone"},
						{"refreshToken", "RT-gone"},
						{"expiresAt", ""}}},
			{"integrations", QJsonArray{linked("TWITCH", "vek-gone", "u1", "ann"),
						    linked("KICK", "vek-kept", "u2", "bob")}}});
	controller().logoutIntegration(QStringLiteral("nobody")); // drops nothing: the old file is the backup
	EXPECT_TRUE(fileBytes(".bak").contains("RT-gone"));

	controller().logoutAccount();
	expectInNoFile({"ID-gone", "AT-gone", "RT-gone"});
	restartWithTheFileLost();
	EXPECT_EQ(controller().accountStatus().value("authenticated").toBool(true), false);
	EXPECT_EQ(failureText(controller().refreshAccount()), "NO_REFRESH_TOKEN: No refresh token is available.");

	controller().logoutIntegration(QStringLiteral("u1"));
	expectInNoFile({"vek-gone"});
	EXPECT_TRUE(fileBytes(".bak").contains("vek-kept"));
	restartWithTheFileLost();
	EXPECT_EQ(controller().integrationSnapshot(), QJsonArray({linked("KICK", "vek-kept", "u2", "bob")}));
}

TEST_F(AuthControllerTest, UnusableFilesStartLoggedOut)
{
	for (const QByteArray &content :
	     {QByteArray(""), QByteArray("[]"), QByteArray("{\"account\": \"text\", \"integrations\": {}}")}) {
		QDir().mkpath(QFileInfo(options.stateFilePath).absolutePath());
		QFile file(options.stateFilePath);
		ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
		file.write(content);
		file.close();
		instance.reset();
		EXPECT_EQ(controller().currentAccessToken(), QString()) << content.constData();
		EXPECT_TRUE(controller().integrationSnapshot().isEmpty());
	}
}

TEST_F(AuthControllerTest, UnwritableFolderLogsTheSaveFailure)
{
	QFile blocker(folder.filePath(QStringLiteral("blocker")));
	ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
	blocker.close();
	options.stateFilePath = blocker.fileName() + QStringLiteral("/zorva-auth.json");
	controller().logoutAccount();
	const auto lines = LogCapture::instance().matching("[vorn-zorva] Failed to save auth settings to ");
	ASSERT_EQ(lines.size(), 1u);
	EXPECT_EQ(lines[0].text, "[vorn-zorva] Failed to save auth settings to " + options.stateFilePath.toStdString());
	EXPECT_EQ(lines[0].level, LOG_WARNING);
}

TEST_F(AuthControllerTest, ExpiryDecidesAuthentication)
{
	const QString past = QDateTime::currentDateTimeUtc().addSecs(-1).toString(Qt::ISODate);
	writeStateFile({{"account", QJsonObject{{"accessToken", "AT"}, {"expiresAt", past}}}});
	EXPECT_EQ(controller().accountStatus().value("authenticated").toBool(true), false);
	EXPECT_EQ(controller().accountStatus().value("expiresAt").toString(), past);
	EXPECT_EQ(controller().currentAccessToken(), QString());
}

TEST_F(AuthControllerTest, RequiredPlatformsAndAccountsList)
{
	writeStateFile(
		{{"integrations", QJsonArray{linked("TWITCH", "t1", "u1", "ann"), linked("TWITCH", "t2", "u2", "bob"),
					     linked("YOUTUBE", "", "u3", "cy")}}});
	const QJsonObject list = controller().requirePlatforms(
		{QStringLiteral("  kick "), QString(), QStringLiteral("KICK"), QStringLiteral("twitch")});
	EXPECT_EQ(statusChanges, 1);
	const QJsonArray accounts = list.value("accounts").toArray();
	ASSERT_EQ(accounts.size(), 3);
	EXPECT_EQ(accounts[0].toObject(), QJsonObject({{"id", "u1"},
						       {"platform", "TWITCH"},
						       {"authenticated", true},
						       {"state", "connected"},
						       {"upid", "u1"},
						       {"username", "ann"}}));
	EXPECT_EQ(accounts[2].toObject().value("authenticated").toBool(true), false);
	EXPECT_EQ(list.value("requiredAccounts").toArray(), QJsonArray({QJsonObject{{"id", "KICK"},
										    {"platform", "KICK"},
										    {"authenticated", false},
										    {"state", "disconnected"},
										    {"reason", "Login required"}}}));
	EXPECT_EQ(controller().requirePlatforms({}).value("requiredAccounts").toArray().size(), 1);
	EXPECT_EQ(statusChanges, 2);
}

TEST(JwtClaims, MalformedTokensGiveNoIdentity)
{
	EXPECT_EQ(decodeJwtPayload(QString()), QJsonObject());
	EXPECT_EQ(decodeJwtPayload(QStringLiteral("abc")), QJsonObject());
	EXPECT_EQ(decodeJwtPayload(QStringLiteral("a.%%%.c")), QJsonObject());
	EXPECT_EQ(decodeJwtPayload(QStringLiteral("a.WzFd.c")), QJsonObject()); // "[1]"
	// Unpadded URL-safe payloads decode.
	EXPECT_EQ(decodeJwtPayload(QStringLiteral("x.eyJhIjoiPz8_In0")), QJsonObject({{"a", "??\?"}}));
	const IdTokenClaims claims =
		decodeIdTokenClaims(makeIdToken({{"sub", 5}, {"email", "e@x"}, {"family_name", "Doe"}}));
	EXPECT_EQ(claims.subject, QString());
	EXPECT_EQ(claims.email, QStringLiteral("e@x"));
	EXPECT_EQ(claims.displayName, QStringLiteral("Doe"));
}
