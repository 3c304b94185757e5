#pragma once

#include <chrono>
#include <vector>

#include <QByteArray>
#include <QtGlobal>

class QTcpSocket;

// What one client of the event proxy has been handed and not yet taken. A
// client that leaves too much of it unread over time has stopped reading and
// is to be closed; one that is merely behind has its input paused until it
// catches up with its replies.
class ClientBacklog {
public:
	struct Limits {
		qint64 maxUnsentBytes;
		std::chrono::milliseconds grace;
		// Never kept more than this unsent, however briefly it has been
		// behind: within the grace a fast publisher could otherwise have a
		// stalled client hold everything published.
		qint64 ceilingBytes;
	};

	explicit ClientBacklog(Limits clientLimits) : limits(clientLimits) {}

	// Keeps the frame for the client's next flush, unless the client has
	// stopped reading or the frame would take what it holds past the
	// ceiling: then nothing is kept and the answer is false.
	bool queue(QTcpSocket &socket, const QByteArray &frame);
	// Hands the kept frames to the kernel with one system call while Qt holds
	// nothing unsent for the client; what the kernel does not take, and
	// everything while Qt holds something, goes to Qt's write buffer, in order.
	void flush(QTcpSocket &socket);
	bool hasQueued() const { return !waiting.empty(); }
	// Queues and flushes at once.
	bool send(QTcpSocket &socket, const QByteArray &frame);
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
	// Whether a frame of `frameBytes` would take the client past the
	// ceiling. A client holding nothing takes any one frame.
	bool overCeiling(qint64 unsent, qint64 frameBytes) const
	{
		return unsent > 0 && unsent + frameBytes > limits.ceilingBytes;
	}
	void recordQueued(qint64 bytes) { queuedBytes += bytes; }

private:
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
};
