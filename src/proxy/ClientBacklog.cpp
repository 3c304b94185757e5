#include "proxy/ClientBacklog.h"

#include "proxy/GatheredSend.h"
#include "websocket/ReceiveBuffer.h"

#include <QByteArray>
#include <QTcpSocket>

bool ClientBacklog::queue(QTcpSocket &socket, const QByteArray &frame)
{
	// The clock is read only while the client is over the limit: this runs
	// for every page on every event.
	const qint64 unsent = socket.bytesToWrite() + waitingBytes;
	const auto now = unsent > limits.maxUnsentBytes ? std::chrono::steady_clock::now()
							: std::chrono::steady_clock::time_point();
	if (overCeiling(unsent, frame.size()) || stoppedReading(unsent, now))
		return false;
	waiting.push_back(frame);
	waitingBytes += frame.size();
	recordQueued(frame.size());
	return true;
}

bool ClientBacklog::send(QTcpSocket &socket, const QByteArray &frame)
{
	if (!queue(socket, frame))
		return false;
	flush(socket);
	return true;
}

void ClientBacklog::flush(QTcpSocket &socket)
{
	if (waiting.empty())
		return;
	size_t frame = 0;
	qint64 offset = 0; // bytes of waiting[frame] already written
	// Bytes in Qt's buffer go first: only while it is empty may the kernel
	// be written to directly.
	if (socket.bytesToWrite() == 0 && socket.state() == QAbstractSocket::ConnectedState)
		sendGathered(socket, waiting, frame, offset);
	for (; frame < waiting.size(); ++frame, offset = 0) {
		if (offset == 0)
			socket.write(waiting[frame]);
		else
			socket.write(waiting[frame].constData() + offset, waiting[frame].size() - offset);
	}
	waiting.clear();
	waitingBytes = 0;
}

bool ClientBacklog::pauseInputIfBehind(QTcpSocket &socket)
{
	if (paused || socket.bytesToWrite() <= limits.maxUnsentBytes)
		return false;
	paused = true;
	// Qt then stops taking the client's bytes from the kernel.
	socket.setReadBufferSize(ReceiveBuffer::readChunk);
	return true;
}

bool ClientBacklog::resumeInputIfCaughtUp(QTcpSocket &socket)
{
	if (socket.bytesToWrite() > limits.maxUnsentBytes)
		return false;
	paused = false;
	socket.setReadBufferSize(0);
	return true;
}

// A client has stopped reading when, of what it had been sent by the time its
// unsent data first went over the limit, more than the limit is still unsent a
// grace period later. Judged over time, not per frame: one large frame, or a
// burst handled in one turn of the event loop, does not close a page that reads.
bool ClientBacklog::stoppedReading(qint64 unsent, std::chrono::steady_clock::time_point now)
{
	if (unsent <= limits.maxUnsentBytes) {
		queuedAtCheckpoint = -1;
		return false;
	}
	if (queuedAtCheckpoint >= 0 && now - checkpointAt < limits.grace)
		return false;
	if (queuedAtCheckpoint >= 0) {
		const qint64 sent = queuedBytes - unsent;
		if (queuedAtCheckpoint - sent > limits.maxUnsentBytes)
			return true;
	}
	queuedAtCheckpoint = queuedBytes;
	checkpointAt = now;
	return false;
}
