// The development host's sample services (web application and dock pages,
// Vorn account service, Vek) in a process of their own, for a host that runs
// elsewhere: a real OBS with the development flavour of the module.
//
//   zorva-sample-services [--seed-auth <module config folder>/zorva-auth.json]
//
// Prints "sample services ready" once all three listen; runs until killed.

#include "samples/SampleServices.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
	QCoreApplication app(argc, argv);
	QCommandLineParser parser;
	parser.setApplicationDescription(QStringLiteral("Runs the sample services the development flavour points at."));
	parser.addHelpOption();
	const QCommandLineOption seed(
		QStringLiteral("seed-auth"),
		QStringLiteral("Write a linked sample platform account into this auth file first."),
		QStringLiteral("file"));
	parser.addOption(seed);
	parser.process(app);

	if (parser.isSet(seed))
		SampleServices::seedLinkedAccount(parser.value(seed));
	SampleServices samples(QStringLiteral(ZORVA_DEVHOST_PAGES_DIR));
	if (!samples.start())
		return 1;
	std::printf("sample services ready\n");
	std::fflush(stdout);
	return app.exec();
}
