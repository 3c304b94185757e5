#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include <obs.h>

// Stands in for obs-websocket's plugin API: the procedure handler behind
// "obs_websocket_api_get_ph" with vendor registration, vendor requests and
// vendor events. Vendor request callbacks run on threads of its own, never on
// the UI thread, as obs-websocket does.
class ObsWebSocketStandin {
public:
	struct Options {
		bool refuseRequestRegistration = false; // "vendor_request_register" reports failure
		bool noVendorHandle = false;            // "vendor_register" hands back null
	};

	struct VendorResponse {
		bool found = false;                                // vendor and request type were registered
		std::string responseJson;                          // the callback's response data, as sent
		std::chrono::steady_clock::time_point completedAt; // when the callback returned
	};

	struct Event {
		std::string vendor;
		std::string type;
		std::string dataJson; // as obs-websocket writes it; {} for null data
		std::chrono::steady_clock::time_point at;
	};

	static ObsWebSocketStandin &instance();

	// Publishes "obs_websocket_api_get_ph" on the global procedure handler.
	void install();
	void install(Options options);
	void setOptions(Options options);

	// Calls a vendor's request callback on a new thread with the request
	// data converted as obs-websocket converts a client's (ObsDataConversion);
	// a value that is not an object hands the callback null request data.
	// The response text is the response data as obs-websocket writes it.
	std::future<VendorResponse> callVendorRequestWith(const std::string &vendor, const std::string &type,
							  nlohmann::json requestData);
	// The same with request data given as text, read as obs-websocket reads a
	// message: empty text, text that is not JSON and JSON that is not an
	// object all hand the callback null request data.
	std::future<VendorResponse> callVendorRequest(const std::string &vendor, const std::string &type,
						      const std::string &requestJson);
	// The same on the calling thread, which plays one of obs-websocket's.
	VendorResponse callVendorRequestHere(const std::string &vendor, const std::string &type,
					     const std::string &requestJson);

	// Called for every vendor event after it is recorded, on the emitting
	// thread and under no lock of the stand-in, so a listener may call back
	// into it. A listener replaced meanwhile may still see one last event.
	using EventListener = std::function<void(const Event &)>;
	void setEventListener(EventListener listener);

	std::vector<Event> events() const;
	std::vector<std::string> vendorNames() const;
	int vendorRegisterCalls() const;

private:
	struct RequestCallback {
		void (*callback)(obs_data_t *requestData, obs_data_t *responseData, void *privateData);
		void *privateData;
	};
	struct Vendor {
		std::string name;
		std::map<std::string, RequestCallback> requests;
	};

	static void getProcHandler(void *data, calldata_t *cd);
	static void vendorRegister(void *data, calldata_t *cd);
	static void vendorRequestRegister(void *data, calldata_t *cd);
	static void vendorEventEmit(void *data, calldata_t *cd);
	VendorResponse respond(const std::string &vendor, const std::string &type, const nlohmann::json &requestData);

	mutable std::mutex mutex;
	proc_handler_t *handler = nullptr;
	Options options;
	std::list<Vendor> vendors;
	std::vector<Event> emitted;
	EventListener eventListener;
	int registerCalls = 0;
};
