#pragma once

#include <chrono>
#include <deque>
#include <vector>

#include <QByteArray>
#include <QtGlobal>

class QTcpSocket;

// What one client of the event proxy has been handed and not yet taken. A
// client that leaves too much of it unread over time has stopped reading and
// is to be closed; one that is merely behind has its input paused until it
// catches up with its replies.
//
// Two kinds of frames reach a client: events it did not ask for, and replies
// to its own requests (the upgrade's answer, X_INIT's history, pongs). Only
// events count against the ceiling: a client's replies are bounded by its
// input waiting while it is behind, and one it asked for must reach it
// whatever it is still taking.
class ClientBacklog {
public:
	struct Limits {
		qint64 maxUnsentBytes;
		std::chrono::milliseconds grace;
		// Never kept more events than this that it was offered and did not
		// take, however briefly it has been behind: within the grace a fast
		// publisher could otherwise have a stalled client hold everything
		// published.
		qint64 ceilingBytes;
	};

	explicit ClientBacklog(Limits clientLimits) : limits(clientLimits) {}

	// Keeps an event for the client's next flush, unless the client has
	// stopped reading or the event would take what it failed to take past
	// the ceiling: then nothing is kept and the answer is false.
	bool queue(QTcpSocket &socket, const QByteArray &frame);
	// Sends a reply at once, behind what was queued before it, unless the
	// client has stopped reading (false).
	bool sendReply(QTcpSocket &socket, const QByteArray &frame);
	// Hands the kept frames to the kernel with one system call while Qt holds
	// nothing unsent for the client; what the kernel does not take, and
	// everything while Qt holds something, goes to Qt's write buffer, in order.
	void flush(QTcpSocket &socket);
	bool hasQueued() const { return !waiting.empty(); }
	// Pauses the client's input while its unsent data is over the limit;
	// true when that happened just now.
	bool pauseInputIfBehind(QTcpSocket &socket);
	// Resumes it once its unsent data is back within the limit; true when
	// that happened just now.
	bool resumeInputIfCaughtUp(QTcpSocket &socket);
	bool inputPaused() const { return paused; }

	// Whether the client has stopped reading, judged from its unsent bytes
	// at `now` and the bytes recorded as handed to it.
	bool stoppedReading(qint64 unsent, std::chrono::steady_clock::time_point now);
	// Whether an event of `frameBytes` would take the events a client holds
	// past the ceiling. A client holding none takes any one frame.
	bool overCeiling(qint64 unsentEvents, qint64 frameBytes) const
	{
		return unsentEvents > 0 && unsentEvents + frameBytes > limits.ceilingBytes;
	}
	void recordQueued(qint64 bytes) { queuedBytes += bytes; }

private:
	// Bytes handed to the client and not yet taken by the kernel.
	qint64 unsentBytes(const QTcpSocket &socket) const;
	// Of `unsent`, the bytes that belong to events.
	qint64 unsentEventBytes(qint64 unsent);
	std::chrono::steady_clock::time_point clockIfOver(qint64 unsent) const;
	void keep(const QByteArray &frame, bool reply);

	Limits limits;
	// Frames kept for the next flush; a broadcast frame is shared by every
	// client, not copied.
	std::vector<QByteArray> waiting;
	qint64 waitingBytes = 0;
	bool paused = false;
	// Every byte handed to the socket, and the count at the moment its unsent
	// data was first seen over the limit (-1 while it is not).
	qint64 queuedBytes = 0;
	qint64 queuedAtCheckpoint = -1;
	std::chrono::steady_clock::time_point checkpointAt;
	// Where the replies not yet wholly taken lie in the stream of bytes
	// handed over (adjacent ones merged), and their total length.
	struct Span {
		qint64 begin;
		qint64 end;
	};
	std::deque<Span> replySpans;
	qint64 replySpanBytes = 0;
};
