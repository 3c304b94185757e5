#pragma once

// The codes the host methods answer with in an error's "errorCode". Pages
// branch on them, so each one is spelled here once; the message that goes
// with a code is written where the failure happens.
namespace ErrorCodes {

// The request itself, before any method runs.
inline constexpr char invalidJson[] = "INVALID_JSON";
inline constexpr char missingMethod[] = "MISSING_METHOD";
inline constexpr char methodNotFound[] = "METHOD_NOT_FOUND";
inline constexpr char hostShuttingDown[] = "HOST_SHUTTING_DOWN";
inline constexpr char invalidRouterResponse[] = "INVALID_ROUTER_RESPONSE";

// Methods OBS does not offer.
inline constexpr char notImplemented[] = "NOT_IMPLEMENTED";
inline constexpr char shimRequired[] = "SHIM_REQUIRED";

// The account's refresh.
inline constexpr char noRefreshToken[] = "NO_REFRESH_TOKEN";
inline constexpr char accountRefreshTimeout[] = "ACCOUNT_REFRESH_TIMEOUT";
inline constexpr char accountRefreshFailed[] = "ACCOUNT_REFRESH_FAILED";

// A platform login through Vek.
inline constexpr char missingPlatform[] = "MISSING_PLATFORM";
inline constexpr char invalidPlatform[] = "INVALID_PLATFORM";
inline constexpr char callbackServerFailed[] = "CALLBACK_SERVER_FAILED";
inline constexpr char vekLoginUrlTimeout[] = "VEK_LOGIN_URL_TIMEOUT";
inline constexpr char vekLoginUrlFailed[] = "VEK_LOGIN_URL_FAILED";
inline constexpr char vekLoginCancelled[] = "VEK_LOGIN_CANCELLED";
inline constexpr char unsupportedAction[] = "UNSUPPORTED_ACTION";
inline constexpr char invalidLoginUrl[] = "INVALID_LOGIN_URL";
inline constexpr char browserOpenFailed[] = "BROWSER_OPEN_FAILED";

// A platform logout and simulated events.
inline constexpr char missingUpid[] = "MISSING_UPID";
inline constexpr char invalidParams[] = "INVALID_PARAMS";
inline constexpr char proxyUnavailable[] = "PROXY_UNAVAILABLE";

} // namespace ErrorCodes
