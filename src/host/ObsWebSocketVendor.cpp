#include "host/ObsWebSocketVendor.h"

#include "host/ObsWebSocketNames.h"
#include "host/VendorRequestGate.h"
#include "obs/Log.h"
#include "threading/ThreadCalls.h"
#include "values/ErrorCodes.h"
#include "values/JsonBridge.h"

#include <memory>

#include <QCoreApplication>

#include <obs.hpp>

namespace {

// The callback record obs-websocket copies at request-type registration.
struct VendorRequestCallback {
	void (*callback)(obs_data_t *requestData, obs_data_t *responseData, void *privateData);
	void *privateData;
};

// obs-websocket's procedure handler, looked up once and kept for the life of
// the process. All first uses happen on the UI thread at post-load.
proc_handler_t *cachedProcHandler = nullptr;

proc_handler_t *obsWebSocketProcHandler()
{
	if (cachedProcHandler)
		return cachedProcHandler;
	calldata_t cd;
	calldata_init(&cd);
	if (!proc_handler_call(obs_get_proc_handler(), "obs_websocket_api_get_ph", &cd))
		blog(LOG_DEBUG, "Unable to fetch obs-websocket proc handler object. obs-websocket not installed?");
	cachedProcHandler = static_cast<proc_handler_t *>(calldata_ptr(&cd, "ph"));
	calldata_free(&cd);
	return cachedProcHandler;
}

json requestObjectOf(obs_data_t *requestData)
{
	const char *text = requestData ? obs_data_get_json(requestData) : nullptr;
	if (!text || !*text)
		return json::object();
	json request = parseJson(text);
	if (!request.is_object())
		return json::object();
	// Pages send the JSON-RPC object either directly or wrapped in "message".
	if (auto it = request.find("message"); it != request.end() && it->is_object())
		return std::move(*it);
	return request;
}

// Replaces the content of an OBS data object with a JSON object; any other
// value leaves it empty, since response and event data can only be objects.
void writeObject(obs_data_t *target, const json &value)
{
	obs_data_clear(target);
	if (!value.is_object())
		return;
	const OBSDataAutoRelease source = obs_data_create_from_json(compactJson(value).c_str());
	if (source)
		obs_data_apply(target, source);
}

// Runs a task on the Qt application thread: queued from another thread, at
// once when already there or without an application.
template<typename Task> void runOnApplicationThread(Task task)
{
	if (QCoreApplication *app = QCoreApplication::instance())
		runOn(app, std::move(task));
	else
		task();
}

// The answer to a request that arrives while OBS shuts down, or for a vendor
// that no longer exists: given at once, without waiting for the UI thread.
const json &shutdownAnswer()
{
	static const json answer = {{"__vendorError", true},
				    {"error", "OBS is shutting down; the request was not run."},
				    {"errorCode", ErrorCodes::hostShuttingDown}};
	return answer;
}

} // namespace

ObsWebSocketVendor::ObsWebSocketVendor(std::string name) : vendorName(std::move(name))
{
	VendorRequestGate::instance().setLiveVendor(this);
}

ObsWebSocketVendor::~ObsWebSocketVendor()
{
	VendorRequestGate::instance().retireVendor(this);
}

void ObsWebSocketVendor::registerHandler(const QString &method, Handler handler)
{
	router.setHandler(
		method.toStdString(),
		[handler = std::move(handler)](const json &params, const LocalHostRouter::Responder &routerResponder) {
			Responder responder;
			responder.success = [&routerResponder](const QJsonValue &result) {
				routerResponder.success(toNlohmann(result));
			};
			responder.error = [&routerResponder](const QString &message, const QString &code) {
				routerResponder.error(message.toStdString(), code.toStdString());
			};
			handler(toQJsonObject(params), responder);
		});
}

bool ObsWebSocketVendor::registerVendor()
{
	if (vendorHandle)
		return true;

	if (proc_handler_t *ph = obsWebSocketProcHandler()) {
		calldata_t cd;
		calldata_init(&cd);
		calldata_set_string(&cd, "name", vendorName.c_str());
		proc_handler_call(ph, "vendor_register", &cd);
		vendorHandle = calldata_ptr(&cd, "vendor");
		calldata_free(&cd);
	}

	if (!vendorHandle) {
		logError("Failed to register obs-websocket vendor '%s'.", vendorName.c_str());
		return false;
	}

	bool success = false;
	if (proc_handler_t *ph = obsWebSocketProcHandler()) {
		VendorRequestCallback callback{&ObsWebSocketVendor::onVendorRequest, this};
		calldata_t cd;
		calldata_init(&cd);
		calldata_set_string(&cd, "type", ObsWebSocketNames::requestType);
		calldata_set_ptr(&cd, "callback", &callback);
		calldata_set_ptr(&cd, "vendor", vendorHandle);
		proc_handler_call(ph, "vendor_request_register", &cd);
		success = calldata_bool(&cd, "success");
		calldata_free(&cd);
	}
	requestRegistered = success;

	if (!success) {
		logError("Failed to register obs-websocket vendor request '%s'.", ObsWebSocketNames::requestType);
		return false;
	}
	logInfo("Registered obs-websocket vendor '%s' request '%s'.", vendorName.c_str(),
		ObsWebSocketNames::requestType);
	return true;
}

void ObsWebSocketVendor::forgetRegistration()
{
	vendorHandle = nullptr;
	requestRegistered = false;
}

void ObsWebSocketVendor::onVendorRequest(obs_data_t *requestData, obs_data_t *responseData, void *privateData)
{
	if (!privateData)
		return;
	// Read by the UI thread while this one waits. On the heap, not on this
	// thread's stack: ThreadSanitizer attributes what a thread keeps on its
	// stack to the thread's start, where no suppression can name this hand-over.
	const auto request = std::make_unique<const json>(requestObjectOf(requestData));
	const json *held = request.get();
	// The vendor is only dereferenced once the gate, on the UI thread, has
	// found it alive: obs-websocket may call with a deleted one.
	const bool served = VendorRequestGate::instance().run(privateData, [privateData, held, responseData] {
		static_cast<const ObsWebSocketVendor *>(privateData)->serveRequest(*held, responseData);
	});
	if (!served)
		writeObject(responseData, shutdownAnswer());
}

void ObsWebSocketVendor::serveRequest(const json &request, obs_data_t *responseData) const
{
	const std::string response = dispatchPayload(compactJson(request));
	writeObject(responseData, parseJson(response));
}

std::string ObsWebSocketVendor::dispatchPayload(std::string_view requestText) const
{
	std::string reply;
	bool replied = false;
	router.dispatch(requestText, [&reply, &replied](std::string text) {
		reply = std::move(text);
		replied = true;
	});
	if (!replied)
		return "{}";

	const json envelope = parseJson(reply);
	if (!envelope.is_object())
		return compactJson({{"__vendorError", true},
				    {"error", "Invalid router response."},
				    {"errorCode", ErrorCodes::invalidRouterResponse}});

	if (auto success = envelope.find("success"); success != envelope.end() && *success == true) {
		auto data = envelope.find("data");
		return data != envelope.end() ? compactJson(*data) : "{}";
	}

	json error = {{"__vendorError", true}};
	auto message = envelope.find("error");
	error["error"] =
		message != envelope.end() && message->is_string() ? *message : json("Unknown vendor request failure.");
	if (auto code = envelope.find("errorCode"); code != envelope.end())
		error["errorCode"] = *code;
	return compactJson(error);
}

void ObsWebSocketVendor::emitEvent(const QString &eventName, const QJsonObject &payload)
{
	emitEvent(eventName, [&payload] { return payload; });
}

void ObsWebSocketVendor::emitEvent(const QString &eventName, const std::function<QJsonObject()> &payload)
{
	if (!vendorHandle)
		return;
	void *handle = vendorHandle;
	std::string message = LocalHostRouter::eventMessage(eventName.toStdString(), toNlohmann(payload()));
	runOnApplicationThread([handle, message = std::move(message)] {
		const OBSDataAutoRelease data = obs_data_create();
		writeObject(data, parseJson(message));
		if (proc_handler_t *ph = obsWebSocketProcHandler()) {
			calldata_t cd;
			calldata_init(&cd);
			calldata_set_string(&cd, "type", ObsWebSocketNames::eventType);
			calldata_set_ptr(&cd, "data", data);
			calldata_set_ptr(&cd, "vendor", handle);
			proc_handler_call(ph, "vendor_event_emit", &cd);
			calldata_free(&cd);
		}
	});
}
