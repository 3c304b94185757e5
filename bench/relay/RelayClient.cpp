#include "RelayClient.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr size_t kReadSize = 256 * 1024;
constexpr int kUpgradeTimeoutMs = 10000;
// Every event the publishers make starts with this member; the servers keep
// it first (it sorts first too).
constexpr char kStampPrefix[] = "{\"at\":";

bool waitFor(int fd, short events, int timeoutMs)
{
	pollfd entry{fd, events, 0};
	return poll(&entry, 1, timeoutMs) == 1 && (entry.revents & events) != 0;
}

} // namespace

int64_t monotonicNs()
{
	timespec now;
	clock_gettime(CLOCK_MONOTONIC, &now);
	return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

RelayClient::~RelayClient()
{
	if (socketFd >= 0)
		close(socketFd);
}

bool RelayClient::open(uint16_t port, const std::string &target, std::string &error)
{
	socketFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
	sockaddr_in address{};
	address.sin_family = AF_INET;
	address.sin_port = htons(port);
	address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	if (socketFd < 0 || connect(socketFd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
		error = std::string("connect: ") + std::strerror(errno);
		return false;
	}
	const int one = 1;
	setsockopt(socketFd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
	const std::string request = "GET " + target +
				    " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
				    "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";
	if (!writeAll(request.data(), request.size())) {
		error = "upgrade request not sent";
		return false;
	}
	// The head is read byte by byte, so no frame after it is taken here.
	std::string head;
	while (head.size() < 4 || head.compare(head.size() - 4, 4, "\r\n\r\n") != 0) {
		char c;
		if (!waitFor(socketFd, POLLIN, kUpgradeTimeoutMs) || read(socketFd, &c, 1) != 1) {
			error = "no upgrade response";
			return false;
		}
		head.push_back(c);
	}
	if (head.rfind("HTTP/1.1 101", 0) != 0) {
		error = "upgrade refused: " + head.substr(0, head.find('\r'));
		return false;
	}
	fcntl(socketFd, F_SETFL, fcntl(socketFd, F_GETFL) | O_NONBLOCK);
	buffer.resize(2 * kReadSize);
	return true;
}

bool RelayClient::writeAll(const char *data, size_t size)
{
	while (size > 0) {
		const ssize_t written = send(socketFd, data, size, MSG_NOSIGNAL);
		if (written > 0) {
			data += written;
			size -= size_t(written);
		} else if (written < 0 && (errno == EAGAIN || errno == EINTR)) {
			if (!waitFor(socketFd, POLLOUT, kUpgradeTimeoutMs))
				return false;
		} else {
			return false;
		}
	}
	return true;
}

long RelayClient::writeSome(const char *data, size_t size)
{
	const ssize_t written = send(socketFd, data, size, MSG_NOSIGNAL);
	if (written >= 0)
		return long(written);
	return errno == EAGAIN || errno == EINTR ? 0 : -1;
}

bool RelayClient::readAvailable(int64_t nowNs, std::vector<int64_t> *samples)
{
	if (buffer.size() - filled < kReadSize)
		buffer.resize(filled + kReadSize);
	const ssize_t count = read(socketFd, buffer.data() + filled, kReadSize);
	if (count == 0)
		return false;
	if (count < 0)
		return errno == EAGAIN || errno == EINTR;
	filled += size_t(count);
	consumeFrames(nowNs, samples);
	return true;
}

void RelayClient::consumeFrames(int64_t nowNs, std::vector<int64_t> *samples)
{
	const auto *bytes = reinterpret_cast<const uint8_t *>(buffer.data());
	size_t at = 0;
	while (filled - at >= 2) {
		const uint8_t code = bytes[at + 1] & 0x7F;
		size_t header = 2;
		uint64_t length = code;
		if (code == 126) {
			header = 4;
			if (filled - at < header)
				break;
			length = uint64_t(bytes[at + 2]) << 8 | bytes[at + 3];
		} else if (code == 127) {
			header = 10;
			if (filled - at < header)
				break;
			length = 0;
			for (size_t i = 2; i < 10; ++i)
				length = length << 8 | bytes[at + i];
		}
		if ((bytes[at + 1] & 0x80) != 0 || filled - at - header < length) {
			malformed += (bytes[at + 1] & 0x80) != 0; // servers never mask
			break;
		}
		if ((bytes[at] & 0x0F) == 1) {
			++received;
			if (samples)
				recordLatency(buffer.data() + at + header, length, nowNs, *samples);
		}
		at += header + size_t(length);
	}
	if (at > 0) {
		std::memmove(buffer.data(), buffer.data() + at, filled - at);
		filled -= at;
	}
}

void RelayClient::recordLatency(const char *payload, uint64_t size, int64_t nowNs, std::vector<int64_t> &samples)
{
	const size_t prefix = sizeof(kStampPrefix) - 1;
	if (size <= prefix || std::memcmp(payload, kStampPrefix, prefix) != 0) {
		++malformed;
		return;
	}
	int64_t stamp = 0;
	for (size_t i = prefix; i < size && payload[i] >= '0' && payload[i] <= '9'; ++i)
		stamp = stamp * 10 + (payload[i] - '0');
	samples.push_back(nowNs - stamp);
}
