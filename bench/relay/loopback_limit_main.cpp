// The kernel's loopback limit for the relay, as a server of the relay
// benchmark: one thread and epoll, nothing but the WebSocket framing. Each
// published message's payload is cut out where the driver puts it (no JSON
// parse, no serialisation, no event loop of a toolkit) and the frames of one
// read are written to every client with one blocking write each: the same
// frames to the same sockets, with nothing else to do. Prints "PORT <n>";
// ends when standard input closes.

#include "websocket/ReceiveBuffer.h"
#include "websocket/WebSocketFrame.h"
#include "websocket/WebSocketHandshake.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

struct Connection {
	int fd = -1;
	bool upgraded = false;
	ReceiveBuffer input;
};

// The driver publishes {"upid":"bench","payload":<event>}: the event is what
// lies between the first "payload": and the closing brace.
std::string_view relayedPayload(std::string_view message)
{
	constexpr std::string_view key = "\"payload\":";
	const size_t at = message.find(key);
	if (at == std::string_view::npos || message.size() < at + key.size() + 1)
		return {};
	return message.substr(at + key.size(), message.size() - at - key.size() - 1);
}

void appendFrame(std::string &out, std::string_view payload)
{
	uint8_t header[kMaxFrameHeaderSize];
	out.append(reinterpret_cast<const char *>(header),
		   writeFrameHeader(header, payload.size(), WebSocketOpcode::Text));
	out.append(payload);
}

bool writeAll(int fd, const std::string &bytes)
{
	for (size_t done = 0; done < bytes.size();) {
		const ssize_t written = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
		if (written <= 0)
			return false;
		done += size_t(written);
	}
	return true;
}

class LoopbackRelay {
public:
	bool listen(uint16_t &port);
	void run();

private:
	void accept();
	void read(Connection &connection);
	void close(int fd);

	int listener = -1;
	int epollFd = -1;
	std::unordered_map<int, std::unique_ptr<Connection>> connections;
	std::vector<int> pages; // upgraded connections, in order
	std::string frames;
};

bool LoopbackRelay::listen(uint16_t &port)
{
	listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
	sockaddr_in address{};
	address.sin_family = AF_INET;
	address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	socklen_t size = sizeof(address);
	if (bind(listener, reinterpret_cast<sockaddr *>(&address), size) != 0 || ::listen(listener, 1024) != 0 ||
	    getsockname(listener, reinterpret_cast<sockaddr *>(&address), &size) != 0)
		return false;
	port = ntohs(address.sin_port);
	epollFd = epoll_create1(EPOLL_CLOEXEC);
	for (int fd : {listener, 0}) {
		epoll_event entry{};
		entry.events = EPOLLIN;
		entry.data.fd = fd;
		epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &entry);
	}
	return true;
}

void LoopbackRelay::run()
{
	epoll_event events[256];
	for (;;) {
		const int count = epoll_wait(epollFd, events, 256, -1);
		for (int i = 0; i < count; ++i) {
			const int fd = events[i].data.fd;
			if (fd == 0) {
				char byte;
				if (::read(0, &byte, 1) <= 0)
					return;
			} else if (fd == listener) {
				accept();
			} else if (const auto it = connections.find(fd); it != connections.end()) {
				read(*it->second);
			}
		}
	}
}

void LoopbackRelay::accept()
{
	const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
	if (fd < 0)
		return;
	const int one = 1;
	setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
	auto connection = std::make_unique<Connection>();
	connection->fd = fd;
	epoll_event entry{};
	entry.events = EPOLLIN;
	entry.data.fd = fd;
	epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &entry);
	connections.emplace(fd, std::move(connection));
}

void LoopbackRelay::read(Connection &connection)
{
	char *space = connection.input.prepareAppend(256 * 1024);
	const ssize_t got = recv(connection.fd, space, 256 * 1024, 0);
	if (got <= 0) {
		close(connection.fd);
		return;
	}
	connection.input.commitAppend(size_t(got));
	if (!connection.upgraded) {
		const auto head = extractHttpHead(connection.input);
		if (!head)
			return;
		const UpgradeRequest request = readUpgradeRequest(*head);
		if (!writeAll(connection.fd, buildUpgradeReply(request.key))) {
			close(connection.fd);
			return;
		}
		connection.upgraded = true;
		pages.push_back(connection.fd);
	}
	frames.clear();
	WebSocketFrame frame;
	std::string error;
	while (decodeFrame(connection.input, frame, error) == DecodeResult::FrameReady)
		if (frame.opcode == WebSocketOpcode::Text)
			appendFrame(frames, relayedPayload(frame.payload));
	if (frames.empty())
		return;
	const std::vector<int> targets = pages;
	for (int fd : targets)
		if (!writeAll(fd, frames))
			close(fd);
}

void LoopbackRelay::close(int fd)
{
	epoll_ctl(epollFd, EPOLL_CTL_DEL, fd, nullptr);
	::close(fd);
	connections.erase(fd);
	for (auto it = pages.begin(); it != pages.end(); ++it) {
		if (*it == fd) {
			pages.erase(it);
			break;
		}
	}
}

} // namespace

int main()
{
	LoopbackRelay relay;
	uint16_t port = 0;
	if (!relay.listen(port)) {
		std::perror("loopback relay: listen");
		return 1;
	}
	std::printf("PORT %u\n", unsigned(port));
	std::fflush(stdout);
	relay.run();
	return 0;
}
