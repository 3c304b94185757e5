#include "ObsWebSocketStandin.h"

#include "ObsDataConversion.h"

#include <thread>

using json = nlohmann::json;

ObsWebSocketStandin &ObsWebSocketStandin::instance()
{
	static ObsWebSocketStandin standin;
	return standin;
}

void ObsWebSocketStandin::install()
{
	install(Options());
}

void ObsWebSocketStandin::install(Options newOptions)
{
	std::lock_guard<std::mutex> lock(mutex);
	options = newOptions;
	if (handler)
		return;
	handler = proc_handler_create();
	proc_handler_add(handler, "void vendor_register(in string name, out ptr vendor)", &vendorRegister, this);
	proc_handler_add(
		handler,
		"bool vendor_request_register(in ptr vendor, in string type, in ptr callback, out bool success)",
		&vendorRequestRegister, this);
	proc_handler_add(handler,
			 "bool vendor_event_emit(in ptr vendor, in string type, in ptr data, out bool success)",
			 &vendorEventEmit, this);
	proc_handler_add(obs_get_proc_handler(), "void obs_websocket_api_get_ph(out ptr ph)", &getProcHandler, this);
}

void ObsWebSocketStandin::setOptions(Options newOptions)
{
	std::lock_guard<std::mutex> lock(mutex);
	options = newOptions;
}

void ObsWebSocketStandin::getProcHandler(void *data, calldata_t *cd)
{
	auto *self = static_cast<ObsWebSocketStandin *>(data);
	calldata_set_ptr(cd, "ph", self->handler);
}

void ObsWebSocketStandin::vendorRegister(void *data, calldata_t *cd)
{
	auto *self = static_cast<ObsWebSocketStandin *>(data);
	std::lock_guard<std::mutex> lock(self->mutex);
	++self->registerCalls;
	const char *name = calldata_string(cd, "name");
	if (self->options.noVendorHandle || !name || !*name) {
		calldata_set_ptr(cd, "vendor", nullptr);
		return;
	}
	for (Vendor &vendor : self->vendors) {
		if (vendor.name == name) {
			calldata_set_ptr(cd, "vendor", nullptr); // names are unique, as in obs-websocket
			return;
		}
	}
	self->vendors.push_back(Vendor{name, {}});
	calldata_set_ptr(cd, "vendor", &self->vendors.back());
}

void ObsWebSocketStandin::vendorRequestRegister(void *data, calldata_t *cd)
{
	auto *self = static_cast<ObsWebSocketStandin *>(data);
	std::lock_guard<std::mutex> lock(self->mutex);
	auto *vendor = static_cast<Vendor *>(calldata_ptr(cd, "vendor"));
	const char *type = calldata_string(cd, "type");
	auto *callback = static_cast<RequestCallback *>(calldata_ptr(cd, "callback"));
	const bool accept = !self->options.refuseRequestRegistration && vendor && type && *type && callback &&
			    !vendor->requests.count(type);
	if (accept)
		vendor->requests[type] = *callback;
	calldata_set_bool(cd, "success", accept);
}

void ObsWebSocketStandin::vendorEventEmit(void *data, calldata_t *cd)
{
	auto *self = static_cast<ObsWebSocketStandin *>(data);
	auto *vendor = static_cast<Vendor *>(calldata_ptr(cd, "vendor"));
	const char *type = calldata_string(cd, "type");
	if (!vendor || !type) {
		calldata_set_bool(cd, "success", false);
		return;
	}
	// Converted now, as obs-websocket does before the call returns: the
	// vendor may change or release the data afterwards. Null data is sent
	// as an empty object.
	auto *eventData = static_cast<obs_data_t *>(calldata_ptr(cd, "data"));
	Event event{vendor->name, type, ObsDataConversion::toText(ObsDataConversion::toJson(eventData)),
		    std::chrono::steady_clock::now()};
	EventListener listener;
	{
		std::lock_guard<std::mutex> lock(self->mutex);
		self->emitted.push_back(event);
		listener = self->eventListener;
	}
	if (listener)
		listener(event);
	calldata_set_bool(cd, "success", true);
}

void ObsWebSocketStandin::setEventListener(EventListener listener)
{
	std::lock_guard<std::mutex> lock(mutex);
	eventListener = std::move(listener);
}

std::future<ObsWebSocketStandin::VendorResponse>
ObsWebSocketStandin::callVendorRequestWith(const std::string &vendorName, const std::string &type, json requestData)
{
	std::promise<VendorResponse> promise;
	std::future<VendorResponse> future = promise.get_future();
	std::thread([this, vendorName, type, requestData = std::move(requestData),
		     promise = std::move(promise)]() mutable {
		promise.set_value(respond(vendorName, type, requestData));
	}).detach();
	return future;
}

std::future<ObsWebSocketStandin::VendorResponse> ObsWebSocketStandin::callVendorRequest(const std::string &vendorName,
											const std::string &type,
											const std::string &requestJson)
{
	return callVendorRequestWith(vendorName, type, json::parse(requestJson, nullptr, false));
}

ObsWebSocketStandin::VendorResponse ObsWebSocketStandin::callVendorRequestHere(const std::string &vendorName,
									       const std::string &type,
									       const std::string &requestJson)
{
	return respond(vendorName, type, json::parse(requestJson, nullptr, false));
}

ObsWebSocketStandin::VendorResponse ObsWebSocketStandin::respond(const std::string &vendorName, const std::string &type,
								 const json &requestData)
{
	RequestCallback callback{nullptr, nullptr};
	{
		std::lock_guard<std::mutex> lock(mutex);
		for (const Vendor &vendor : vendors) {
			if (vendor.name != vendorName)
				continue;
			auto it = vendor.requests.find(type);
			if (it != vendor.requests.end())
				callback = it->second;
		}
	}

	VendorResponse response;
	if (!callback.callback)
		return response;
	obs_data_t *request = ObsDataConversion::toObsData(requestData);
	obs_data_t *reply = obs_data_create();
	callback.callback(request, reply, callback.privateData);
	response.completedAt = std::chrono::steady_clock::now();
	response.found = true;
	response.responseJson = ObsDataConversion::toText(ObsDataConversion::toJson(reply));
	obs_data_release(reply);
	obs_data_release(request);
	return response;
}

std::vector<ObsWebSocketStandin::Event> ObsWebSocketStandin::events() const
{
	std::lock_guard<std::mutex> lock(mutex);
	return emitted;
}

std::vector<std::string> ObsWebSocketStandin::vendorNames() const
{
	std::lock_guard<std::mutex> lock(mutex);
	std::vector<std::string> names;
	for (const Vendor &vendor : vendors)
		names.push_back(vendor.name);
	return names;
}

int ObsWebSocketStandin::vendorRegisterCalls() const
{
	std::lock_guard<std::mutex> lock(mutex);
	return registerCalls;
}
