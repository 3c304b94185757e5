#pragma once

#include <atomic>
#include <functional>

class QObject;

// Decides, on obs-websocket's threads, whether a vendor request may wait for
// the UI thread, and hands it over when it may.
//
// OBS keeps a module's library mapped after unloading it, and obs-websocket
// may outlive the module or go first: it can call the request callback after
// the vendor is gone, or while the UI thread no longer runs its event loop
// (after the front end's exit, during unload). So this state lives for the
// whole process, never inside the vendor, and once closed a request is
// refused at once instead of waiting on a thread that will not answer.
class VendorRequestGate {
public:
	static VendorRequestGate &instance();

	// UI thread. Opens the gate (module load) or closes it (front-end exit,
	// start of unload). Closing runs every request already handed over, as a
	// refusal, so that no obs-websocket thread is left waiting.
	void open();
	void close();

	// UI thread. The vendor whose requests are served; requests made for any
	// other (a deleted one, through a stale registration) are refused.
	void setLiveVendor(const void *vendor);
	// Forgets the vendor if it is the live one, refusing what waits for it.
	void retireVendor(const void *vendor);

	// Any thread. Runs `serve` on the UI thread and waits for it, or at once
	// when already there. Returns false, without running it, when the gate is
	// closed or `vendor` is not the live vendor.
	bool run(const void *vendor, const std::function<void()> &serve);

private:
	class Ticket;

	VendorRequestGate() = default;

	void ensureUiReceiver();
	bool admits(const void *vendor) const;
	void drainHandedOver();

	std::atomic<bool> closed{true};
	// Requests between the closed check and the end of their UI-thread task.
	std::atomic<int> handedOver{0};
	// Receives the handed-over tasks on the UI thread; created there once.
	std::atomic<QObject *> uiReceiver{nullptr};
	// UI thread only.
	const void *liveVendor = nullptr;
	int servingOnUiThread = 0;
};
