#include "obs/ObsString.h"

#include <util/bmem.h>

QString takeObsString(char *text)
{
	if (!text)
		return {};
	QString result = QString::fromUtf8(text);
	bfree(text);
	return result;
}
