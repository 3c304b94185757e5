#pragma once

// The calls by which code runs a task on another object's thread: the UI
// thread and the worker meet only through these and Qt's queued signals.
// Each names the object whose thread runs the task, and Qt drops a task whose
// object is gone before it runs.

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <optional>
#include <type_traits>
#include <utility>

// Runs the task later, from the event loop of `context`'s thread, whichever
// thread posts it: the caller goes on at once. False when Qt cannot post it.
template<typename Task> bool postTo(QObject *context, Task &&task)
{
	return QMetaObject::invokeMethod(context, std::forward<Task>(task), Qt::QueuedConnection);
}

// Runs the task on `context`'s thread: at once when the caller is on it,
// posted otherwise. For work that must happen there but need not be awaited.
template<typename Task> void runOn(QObject *context, Task &&task)
{
	if (QThread::currentThread() == context->thread())
		task();
	else
		postTo(context, std::forward<Task>(task));
}

// Runs the task on `context`'s thread and returns its result once it has
// run: at once when the caller is on that thread, otherwise the caller waits.
// The other thread must never wait on the caller's, or both would stop: the
// worker never waits on the UI thread, so the UI thread calls the worker so,
// and only a thread that is neither calls the UI thread so.
template<typename Task> std::invoke_result_t<Task> callOn(QObject *context, Task &&task)
{
	using Value = std::invoke_result_t<Task>;
	if (QThread::currentThread() == context->thread())
		return task();
	if constexpr (std::is_void_v<Value>) {
		[[maybe_unused]] const bool ran =
			QMetaObject::invokeMethod(context, std::forward<Task>(task), Qt::BlockingQueuedConnection);
		Q_ASSERT(ran);
	} else {
		std::optional<Value> value;
		[[maybe_unused]] const bool ran = QMetaObject::invokeMethod(
			context, [&value, &task] { value.emplace(task()); }, Qt::BlockingQueuedConnection);
		Q_ASSERT(ran);
		return std::move(*value);
	}
}
