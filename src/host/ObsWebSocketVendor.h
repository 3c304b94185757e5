#pragma once

#include "host/LocalHostRouter.h"

#include <functional>
#include <string>
#include <string_view>

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

struct obs_data;
typedef struct obs_data obs_data_t;

// The module's side of obs-websocket's vendor interface: serves the host
// methods as vendor requests and publishes host events as vendor events.
class ObsWebSocketVendor {
public:
	struct Responder {
		std::function<void(const QJsonValue &result)> success;
		std::function<void(const QString &message, const QString &code)> error;
	};

	using Handler = std::function<void(const QJsonObject &params, const Responder &responder)>;

	explicit ObsWebSocketVendor(std::string vendorName);
	~ObsWebSocketVendor();

	ObsWebSocketVendor(const ObsWebSocketVendor &) = delete;
	ObsWebSocketVendor &operator=(const ObsWebSocketVendor &) = delete;

	void registerHandler(const QString &method, Handler handler);
	bool registerVendor();
	std::string dispatchPayload(std::string_view requestText) const;
	void emitEvent(const QString &eventName, const QJsonObject &payload);
	// The same with a payload that is built only when the event can go out.
	void emitEvent(const QString &eventName, const std::function<QJsonObject()> &payload);

	// Forgets the obs-websocket registration without telling obs-websocket.
	void forgetRegistration();

	bool isRequestRegistered() const { return requestRegistered; }

private:
	static void onVendorRequest(obs_data_t *requestData, obs_data_t *responseData, void *privateData);
	void serveRequest(const json &request, obs_data_t *responseData) const;

	LocalHostRouter router;
	std::string vendorName;
	void *vendorHandle = nullptr;
	bool requestRegistered = false;
};
