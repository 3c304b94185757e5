#include "host/VendorRequestGate.h"

#include "threading/ThreadCalls.h"

#include <memory>

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QSemaphore>
#include <QThread>

namespace {

// What the waiting thread learns from the UI thread.
struct Outcome {
	QSemaphore done;
	bool served = false;
};

} // namespace

// One handed-over request, owned by the task queued to the UI thread. A task
// that is dropped unrun (its event deleted with the application) still
// releases its waiter, as a refusal.
class VendorRequestGate::Ticket {
public:
	Ticket(VendorRequestGate &owner, const void *forVendor, const std::function<void()> &request,
	       std::shared_ptr<Outcome> result)
		: gate(owner), vendor(forVendor), serve(request), outcome(std::move(result))
	{
	}
	Ticket(const Ticket &) = delete;
	Ticket &operator=(const Ticket &) = delete;
	~Ticket() { finish(false); }

	void run()
	{
		if (finished)
			return;
		const bool admitted = gate.admits(vendor);
		if (admitted) {
			++gate.servingOnUiThread;
			serve();
			--gate.servingOnUiThread;
		}
		finish(admitted);
	}

private:
	void finish(bool served)
	{
		if (finished)
			return;
		finished = true;
		outcome->served = served;
		gate.handedOver.fetch_sub(1);
		outcome->done.release();
	}

	VendorRequestGate &gate;
	const void *vendor;
	// The waiting caller's: it lives until `done` is released.
	const std::function<void()> &serve;
	std::shared_ptr<Outcome> outcome;
	bool finished = false;
};

VendorRequestGate &VendorRequestGate::instance()
{
	// Never destroyed: obs-websocket may call in while the process exits.
	static auto *gate = new VendorRequestGate;
	return *gate;
}

void VendorRequestGate::ensureUiReceiver()
{
	if (uiReceiver.load())
		return;
	QCoreApplication *app = QCoreApplication::instance();
	if (!app)
		return;
	auto *receiver = new QObject; // kept for the life of the process, as the gate
	receiver->moveToThread(app->thread());
	uiReceiver.store(receiver);
}

void VendorRequestGate::open()
{
	ensureUiReceiver();
	closed.store(false);
}

void VendorRequestGate::close()
{
	closed.store(true);
	// Only the UI thread can run what waits for it; closed from elsewhere,
	// the tasks already queued are refused when it does.
	QObject *receiver = uiReceiver.load();
	if (!receiver || QThread::currentThread() == receiver->thread())
		drainHandedOver();
}

void VendorRequestGate::setLiveVendor(const void *vendor)
{
	liveVendor = vendor;
}

void VendorRequestGate::retireVendor(const void *vendor)
{
	// Tasks already queued for it compare pointers only, and find it gone.
	if (liveVendor == vendor)
		liveVendor = nullptr;
}

bool VendorRequestGate::admits(const void *vendor) const
{
	return !closed.load() && vendor && vendor == liveVendor;
}

bool VendorRequestGate::run(const void *vendor, const std::function<void()> &serve)
{
	QCoreApplication *app = QCoreApplication::instance();
	if (!app || QThread::currentThread() == app->thread()) {
		if (!admits(vendor))
			return false;
		serve();
		return true;
	}

	// Counted before the closed check, which close() makes after setting it:
	// either this request sees the gate closed, or close() sees it counted
	// and waits for its task.
	handedOver.fetch_add(1);
	QObject *receiver = uiReceiver.load();
	if (closed.load() || !receiver) {
		handedOver.fetch_sub(1);
		return false;
	}
	auto outcome = std::make_shared<Outcome>();
	auto ticket = std::make_shared<Ticket>(*this, vendor, serve, outcome);
	postTo(receiver, [ticket] { ticket->run(); });
	ticket.reset(); // the queued task is its only owner now
	outcome->done.acquire();
	return outcome->served;
}

void VendorRequestGate::drainHandedOver()
{
	QObject *receiver = uiReceiver.load();
	// A request that got past the closed check queues its task within moments;
	// one being served right now, further up this thread's stack, is not waited for.
	while (handedOver.load() > servingOnUiThread) {
		if (receiver)
			QCoreApplication::sendPostedEvents(receiver, QEvent::MetaCall);
		if (handedOver.load() > servingOnUiThread)
			QThread::yieldCurrentThread();
	}
}
