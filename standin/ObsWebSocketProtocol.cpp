#include "ObsWebSocketProtocol.h"

#include "values/Json.h"
#include "websocket/Base64.h"
#include "websocket/WebSocketFrame.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QString>
#include <QSysInfo>

#include <obs.h>

namespace ObsWebSocketProtocol {

namespace {

constexpr size_t kMaxCloseReason = 123; // a close frame's payload is at most 125 bytes

std::string sha256Base64(const std::string &input)
{
	const QByteArray digest =
		QCryptographicHash::hash(QByteArray::fromStdString(input), QCryptographicHash::Sha256);
	return base64Encode(std::string_view(digest.constData(), size_t(digest.size())));
}

} // namespace

Field stringField(const nlohmann::json &object, const char *key, std::string &value)
{
	const auto it = object.find(key);
	if (it == object.end() || it->is_null())
		return Field::Missing;
	if (!it->is_string())
		return Field::WrongType;
	value = it->get<std::string>();
	return Field::Present;
}

nlohmann::json parseObject(const std::string &text)
{
	nlohmann::json value = nlohmann::json::parse(text, nullptr, false);
	return value.is_object() ? value : nlohmann::json::object();
}

std::string randomBase64(size_t bytes)
{
	std::string raw(bytes, '\0');
	for (char &byte : raw)
		byte = char(QRandomGenerator::system()->bounded(256));
	return base64Encode(raw);
}

std::string authenticationFor(const std::string &password, const std::string &salt, const std::string &challenge)
{
	return sha256Base64(sha256Base64(password + salt) + challenge);
}

std::string messageFrame(int op, const nlohmann::json &data)
{
	return encodeFrame(compactJson({{"op", op}, {"d", data}}), WebSocketOpcode::Text, false);
}

std::string closeFrame(uint16_t code, const std::string &reason)
{
	std::string payload;
	payload.push_back(char(code >> 8));
	payload.push_back(char(code & 0xFF));
	payload.append(reason.substr(0, kMaxCloseReason));
	return encodeFrame(payload, WebSocketOpcode::Close, false);
}

nlohmann::json helloData(const std::string &challenge, const std::string &salt)
{
	nlohmann::json hello = {{"obsStudioVersion", obs_get_version_string()},
				{"obsWebSocketVersion", obsWebSocketVersion},
				{"rpcVersion", rpcVersion}};
	if (!challenge.empty())
		hello["authentication"] = {{"challenge", challenge}, {"salt", salt}};
	return hello;
}

nlohmann::json versionData()
{
	return {{"obsVersion", obs_get_version_string()},
		{"obsWebSocketVersion", obsWebSocketVersion},
		{"rpcVersion", rpcVersion},
		{"availableRequests", {callVendorRequest, getVersion}},
		{"supportedImageFormats", nlohmann::json::array()},
		{"platform", QSysInfo::productType().toStdString()},
		{"platformDescription", QSysInfo::prettyProductName().toStdString()}};
}

nlohmann::json responseData(const std::string &requestType, const std::string &requestId, int code,
			    const std::string &comment, const nlohmann::json &data)
{
	nlohmann::json status = {{"result", code == Status::Success}, {"code", code}};
	if (!comment.empty())
		status["comment"] = comment;
	nlohmann::json response = {{"requestType", requestType}, {"requestId", requestId}, {"requestStatus", status}};
	if (!data.is_null())
		response["responseData"] = data;
	return response;
}

nlohmann::json vendorEventData(const ObsWebSocketStandin::Event &event)
{
	return {{"eventType", "VendorEvent"},
		{"eventIntent", vendorsIntent},
		{"eventData",
		 {{"vendorName", event.vendor},
		  {"eventType", event.type},
		  {"eventData", parseObject(event.dataJson)}}}};
}

} // namespace ObsWebSocketProtocol
