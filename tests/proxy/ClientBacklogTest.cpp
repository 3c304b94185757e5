// Whether a client of the event proxy stopped reading, judged at given times,
// and how its frames reach the kernel.

#include "proxy/ClientBacklog.h"

#include "EventLoopWait.h"

#include <QTcpSocket>

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;

TEST(ClientBacklog, AClientThatTakesTooLittleWithinTheGraceHasStoppedReading)
{
	ClientBacklog backlog({100, 2000ms, 1 << 20});
	const auto start = std::chrono::steady_clock::time_point() + 1h;
	backlog.recordQueued(500);
	EXPECT_FALSE(backlog.stoppedReading(100, start)); // at the limit
	EXPECT_FALSE(backlog.stoppedReading(500, start)); // over it: the grace starts, 500 handed over so far
	EXPECT_FALSE(backlog.stoppedReading(500, start + 1999ms));

	// It took 400 of those 500 by the end of the grace: still reading, and a new grace starts.
	backlog.recordQueued(1000);
	EXPECT_FALSE(backlog.stoppedReading(1100, start + 2000ms));
	// Of the 1500 handed over by then it took 1399: one byte short.
	backlog.recordQueued(1000);
	EXPECT_TRUE(backlog.stoppedReading(1101, start + 4000ms));

	// Back within the limit, the judgement starts over.
	ClientBacklog caughtUp({100, 2000ms, 1 << 20});
	caughtUp.recordQueued(500);
	EXPECT_FALSE(caughtUp.stoppedReading(500, start));
	EXPECT_FALSE(caughtUp.stoppedReading(50, start + 1000ms));
	EXPECT_FALSE(caughtUp.stoppedReading(500, start + 2500ms));
	EXPECT_FALSE(caughtUp.stoppedReading(500, start + 4000ms));
	EXPECT_TRUE(caughtUp.stoppedReading(500, start + 4500ms));
}

// Flushes over a real socket: what the kernel takes leaves directly, the rest
// through Qt's buffer, and the peer reads every byte once and in order.
TEST(ClientBacklog, AFlushDeliversEveryFrameInOrderWhateverTheKernelTakes)
{
	int fds[2];
	ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
	const int small = 4096;
	setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof(small));
	QTcpSocket socket;
	ASSERT_TRUE(socket.setSocketDescriptor(fds[0]));
	ClientBacklog backlog({qint64(64) << 20, 1h, qint64(64) << 20});

	QByteArray expected;
	const auto queue = [&](QByteArray frame) {
		ASSERT_TRUE(backlog.queue(socket, frame));
		expected += frame;
	};
	queue("first");
	queue("second");
	backlog.flush(socket);
	EXPECT_EQ(socket.bytesToWrite(), 0) << "two small frames fit the kernel's buffer";
	// Far more than the kernel takes: the rest waits in Qt's buffer, and what
	// comes later goes behind it.
	for (int i = 0; i < 100; ++i)
		queue(QByteArray(3000 + i, char('a' + i % 26)));
	backlog.flush(socket);
	EXPECT_GT(socket.bytesToWrite(), 0);
	EXPECT_TRUE(backlog.sendReply(socket, "last"));
	expected += "last";

	QByteArray received;
	char chunk[65536];
	waitUntil([&] {
		ssize_t got;
		while ((got = recv(fds[1], chunk, sizeof(chunk), MSG_DONTWAIT)) > 0)
			received.append(chunk, got);
		return received.size() >= expected.size();
	});
	EXPECT_EQ(received.size(), expected.size());
	EXPECT_TRUE(received == expected);
	close(fds[1]);
}
