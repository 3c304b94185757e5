#include "QueuedRelay.h"

#include <QMetaObject>
#include <QObject>

void QueuedRelay::post(std::function<void()> work)
{
	std::lock_guard<std::mutex> lock(mutex);
	if (target)
		QMetaObject::invokeMethod(target, std::move(work), Qt::QueuedConnection);
}

void QueuedRelay::detach()
{
	std::lock_guard<std::mutex> lock(mutex);
	target = nullptr;
}
