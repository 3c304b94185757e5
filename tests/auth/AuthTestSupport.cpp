#include "AuthTestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

QJsonObject parseObject(const QByteArray &json)
{
	return QJsonDocument::fromJson(json).object();
}

void runApplicationLoopUntilQuit(std::chrono::milliseconds guard)
{
	QTimer timer;
	timer.setSingleShot(true);
	QObject::connect(&timer, &QTimer::timeout, [] {
		ADD_FAILURE() << "nothing quit the application loop";
		QCoreApplication::exit();
	});
	timer.start(guard);
	QCoreApplication::exec();
}

void AuthControllerTest::SetUp()
{
	LogCapture::instance().install();
	LogCapture::instance().setEcho(false);
	ASSERT_TRUE(account.listen());
	ASSERT_TRUE(vek.listen());
	ASSERT_TRUE(folder.isValid());
	options.endpoints.accountBaseUrl = account.baseUrl();
	options.endpoints.accountLoginUrl = QStringLiteral("https://login.vorn.test/");
	options.endpoints.accountRedirectUrl = QStringLiteral("https://zorva.vorn.test/auth/redirect");
	options.endpoints.accountPostLogoutUrl = QStringLiteral("https://zorva.vorn.test/bye?x=1");
	options.endpoints.vekApiBaseUrl = vek.baseUrl() + QStringLiteral("/v2/vek");
	options.endpoints.iconUrl = QStringLiteral("https://zorva.vorn.test/icon.png");
	options.stateFilePath = folder.filePath(QStringLiteral("config/zorva-auth.json"));
	browser = std::make_unique<UrlCapture>();
}

void AuthControllerTest::TearDown()
{
	instance.reset();
	browser.reset();
}

void AuthControllerTest::createController()
{
	instance = std::make_unique<AuthController>(options);
	QObject::connect(instance.get(), &AuthController::statusChanged, [this] { ++statusChanges; });
	QObject::connect(instance.get(), &AuthController::redirectConsumed, [this] { ++redirectsConsumed; });
}

AuthController &AuthControllerTest::controller()
{
	if (!instance)
		createController();
	return *instance;
}

void AuthControllerTest::writeStateFile(const QJsonObject &content, const QString &suffix)
{
	QDir().mkpath(QFileInfo(options.stateFilePath).absolutePath());
	QFile file(options.stateFilePath + suffix);
	ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
	file.write(QJsonDocument(content).toJson());
}

QJsonObject AuthControllerTest::readStateFile(const QString &suffix) const
{
	QFile file(options.stateFilePath + suffix);
	if (!file.open(QIODevice::ReadOnly))
		return {};
	return parseObject(file.readAll());
}

QJsonObject AuthControllerTest::tokenResponse(const QString &accessToken, const QString &email)
{
	return QJsonObject{
		{QStringLiteral("token_type"), QStringLiteral("Bearer")},
		{QStringLiteral("access_token"), accessToken},
		{QStringLiteral("refresh_token"), QStringLiteral("refresh-") + accessToken},
		{QStringLiteral("id_token"), makeIdToken({{QStringLiteral("sub"), QStringLiteral("user-1")},
							  {QStringLiteral("email"), email},
							  {QStringLiteral("name"), QStringLiteral("Ann Example")}})},
		{QStringLiteral("expires_in"), 3600},
	};
}

QUrlQuery AuthControllerTest::beginLogin()
{
	const QJsonObject result = controller().beginAccountLogin();
	EXPECT_EQ(result.value(QStringLiteral("opened")).toBool(), true);
	EXPECT_FALSE(browser->openedUrls().isEmpty());
	if (browser->openedUrls().isEmpty())
		return {};
	return QUrlQuery(browser->openedUrls().last());
}
