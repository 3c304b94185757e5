// The login callback listener's request parsing over arbitrary bytes, and the
// result page for what it found.

#include "auth/CallbackPage.h"

#include <cstdint>
#include <cstdlib>

namespace {

QString messageFor(const CallbackRequest &request)
{
	switch (request.outcome) {
	case CallbackRequest::Outcome::Invalid:
		return QStringLiteral("Invalid callback request.");
	case CallbackRequest::Outcome::UnknownPath:
		return QStringLiteral("Unknown callback path.");
	default:
		return request.query.queryItemValue(QStringLiteral("error_description"), QUrl::FullyDecoded);
	}
}

// The header's length is the body's, and the message shows as text only.
void checkPage(const QByteArray &response, const QString &message)
{
	const qsizetype headEnd = response.indexOf("\r\n\r\n");
	if (headEnd < 0)
		std::abort();
	const QByteArray body = response.mid(headEnd + 4);
	if (!response.contains("\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n"))
		std::abort();
	if (!body.contains("<p>" + message.toHtmlEscaped().toUtf8() + "</p></div>"))
		std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
	const CallbackRequest request = parseCallbackRequest(bytes);
	const bool complete = bytes.contains("\r\n\r\n");
	if ((request.outcome == CallbackRequest::Outcome::Incomplete) == complete)
		std::abort(); // a complete head always gets an answer, an incomplete one never
	if (request.outcome != CallbackRequest::Outcome::Callback && !request.query.isEmpty())
		std::abort();
	if (request.outcome == CallbackRequest::Outcome::Incomplete)
		return 0;
	const QString message = messageFor(request);
	checkPage(callbackPageResponse(false, message, QStringLiteral("https://zorva.vorn.example/icon.png")), message);
	return 0;
}
