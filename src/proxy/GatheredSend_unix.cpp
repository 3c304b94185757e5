#include "proxy/GatheredSend.h"

#include <QTcpSocket>

#include <sys/socket.h>
#include <sys/uio.h>

// Qt's own path costs a copy into its buffer, a write notifier turned on and
// off, and a pass of the event loop for every client on every event; a
// gathered send costs one system call for all the frames a client is due.
void sendGathered(QTcpSocket &socket, const std::vector<QByteArray> &frames, size_t &frame, qint64 &offset)
{
	const int fd = int(socket.socketDescriptor());
	constexpr size_t maxParts = 64;
	iovec parts[maxParts];
	while (frame < frames.size()) {
		size_t count = 0;
		for (size_t i = frame; i < frames.size() && count < maxParts; ++i, ++count) {
			const qint64 skip = i == frame ? offset : 0;
			parts[count].iov_base = const_cast<char *>(frames[i].constData() + skip);
			parts[count].iov_len = size_t(frames[i].size() - skip);
		}
		msghdr message{};
		message.msg_iov = parts;
		message.msg_iovlen = count;
		// A peer that has gone must not raise SIGPIPE in OBS.
		ssize_t written = sendmsg(fd, &message, MSG_DONTWAIT | MSG_NOSIGNAL);
		if (written <= 0)
			return;
		for (; frame < frames.size() && written >= frames[frame].size() - offset; ++frame) {
			written -= frames[frame].size() - offset;
			offset = 0;
		}
		if (written > 0) {
			offset += written;
			return;
		}
	}
}
