#include "host/RefreshDebounce.h"

#include <utility>

RefreshDebounce::RefreshDebounce(std::function<void()> refresh, std::chrono::milliseconds delay)
{
	timer.setSingleShot(true);
	timer.setInterval(delay);
	QObject::connect(&timer, &QTimer::timeout, &timer, std::move(refresh));
}

void RefreshDebounce::notice()
{
	timer.start();
}
