#include "proxy/ClientBacklog.h"

#include "proxy/GatheredSend.h"
#include "websocket/ReceiveBuffer.h"

#include <QByteArray>
#include <QTcpSocket>

qint64 ClientBacklog::unsentBytes(const QTcpSocket &socket) const
{
	return socket.bytesToWrite() + waitingBytes;
}

// The clock is read only while the client is over the limit: this runs for
// every page on every event.
std::chrono::steady_clock::time_point ClientBacklog::clockIfOver(qint64 unsent) const
{
	return unsent > limits.maxUnsentBytes ? std::chrono::steady_clock::now()
					      : std::chrono::steady_clock::time_point();
}

qint64 ClientBacklog::unsentEventBytes(qint64 unsent)
{
	// The stream is taken in order: everything before `taken` has left.
	const qint64 taken = queuedBytes - unsent;
	while (!replySpans.empty() && replySpans.front().end <= taken) {
		replySpanBytes -= replySpans.front().end - replySpans.front().begin;
		replySpans.pop_front();
	}
	qint64 unsentReplies = replySpanBytes;
	if (!replySpans.empty() && replySpans.front().begin < taken)
		unsentReplies -= taken - replySpans.front().begin;
	return unsent - unsentReplies;
}

void ClientBacklog::keep(const QByteArray &frame, bool reply)
{
	if (reply) {
		if (!replySpans.empty() && replySpans.back().end == queuedBytes)
			replySpans.back().end += frame.size();
		else
			replySpans.push_back({queuedBytes, queuedBytes + frame.size()});
		replySpanBytes += frame.size();
	}
	waiting.push_back(frame);
	waitingBytes += frame.size();
	recordQueued(frame.size());
}

bool ClientBacklog::queue(QTcpSocket &socket, const QByteArray &frame)
{
	qint64 unsent = unsentBytes(socket);
	if (overCeiling(unsentEventBytes(unsent), frame.size()) && hasQueued()) {
		// Only what the client was offered and did not take counts: what
		// waits for the next flush is offered to the kernel first.
		flush(socket);
		unsent = unsentBytes(socket);
	}
	if (overCeiling(unsentEventBytes(unsent), frame.size()) || stoppedReading(unsent, clockIfOver(unsent)))
		return false;
	keep(frame, false);
	return true;
}

bool ClientBacklog::sendReply(QTcpSocket &socket, const QByteArray &frame)
{
	const qint64 unsent = unsentBytes(socket);
	if (stoppedReading(unsent, clockIfOver(unsent)))
		return false;
	keep(frame, true);
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
