#pragma once

#include "ObsWebSocketStandin.h"

#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

// obs-websocket's network protocol 5, JSON encoding: its codes, and the
// messages the stand-in server sends, built as obs-websocket builds them.
namespace ObsWebSocketProtocol {

namespace Op {
inline constexpr int Hello = 0;
inline constexpr int Identify = 1;
inline constexpr int Identified = 2;
inline constexpr int Reidentify = 3;
inline constexpr int Event = 5;
inline constexpr int Request = 6;
inline constexpr int RequestResponse = 7;
} // namespace Op

namespace CloseCode {
inline constexpr uint16_t Normal = 1000;
inline constexpr uint16_t ProtocolError = 1002;
inline constexpr uint16_t MessageDecodeError = 4002;
inline constexpr uint16_t MissingDataField = 4003;
inline constexpr uint16_t InvalidDataFieldType = 4004;
inline constexpr uint16_t UnknownOpCode = 4006;
inline constexpr uint16_t NotIdentified = 4007;
inline constexpr uint16_t AlreadyIdentified = 4008;
inline constexpr uint16_t AuthenticationFailed = 4009;
inline constexpr uint16_t UnsupportedRpcVersion = 4010;
} // namespace CloseCode

namespace Status {
inline constexpr int Success = 100;
inline constexpr int UnknownRequestType = 204;
inline constexpr int MissingRequestField = 300;
inline constexpr int InvalidRequestFieldType = 400;
inline constexpr int ResourceNotFound = 600;
} // namespace Status

inline constexpr char jsonSubprotocol[] = "obswebsocket.json";
inline constexpr char callVendorRequest[] = "CallVendorRequest";
inline constexpr char getVersion[] = "GetVersion";
inline constexpr char obsWebSocketVersion[] = "5.5.2";
inline constexpr int rpcVersion = 1;
// Event subscription bits: obs-websocket's "All", every category that is not
// high volume, includes Vendors.
inline constexpr uint32_t vendorsIntent = 1u << 9;
inline constexpr uint32_t allNonHighVolume = (1u << 11) - 1;

// A string member: absent (or null), of another type, or the value.
enum class Field { Missing, WrongType, Present };
Field stringField(const nlohmann::json &object, const char *key, std::string &value);

// The object a text holds; anything else reads as an empty object.
nlohmann::json parseObject(const std::string &text);

std::string randomBase64(size_t bytes);
// What Identify must present for this password, salt and challenge.
std::string authenticationFor(const std::string &password, const std::string &salt, const std::string &challenge);

// One text frame holding {"op": op, "d": data}.
std::string messageFrame(int op, const nlohmann::json &data);
// A close frame with obs-websocket's code and reason (cut to fit the frame).
std::string closeFrame(uint16_t code, const std::string &reason);

// Hello's data; with a challenge it asks for authentication.
nlohmann::json helloData(const std::string &challenge, const std::string &salt);
// GetVersion's response data.
nlohmann::json versionData();
// A RequestResponse's data; null response data is left out.
nlohmann::json responseData(const std::string &requestType, const std::string &requestId, int code,
			    const std::string &comment, const nlohmann::json &data);
// A vendor event's data, as obs-websocket relays it.
nlohmann::json vendorEventData(const ObsWebSocketStandin::Event &event);

} // namespace ObsWebSocketProtocol
