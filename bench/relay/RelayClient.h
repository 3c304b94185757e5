#pragma once

// One lean WebSocket client of the relay benchmark on a raw socket: connects
// and upgrades blocking, then reads non-blocking and only counts the text
// frames it gets (and, when asked, the latency stamped into each), so that the
// clients cost as little as possible beside the server under test.

#include <cstdint>
#include <string>
#include <vector>

class RelayClient {
public:
	RelayClient() = default;
	~RelayClient();
	RelayClient(const RelayClient &) = delete;
	RelayClient &operator=(const RelayClient &) = delete;

	// Connects to 127.0.0.1:port and upgrades with the request target; false
	// with the reason in error.
	bool open(uint16_t port, const std::string &target, std::string &error);
	int fd() const { return socketFd; }

	// Reads what the kernel holds (one read) and counts the frames in it.
	// Latencies (now minus the event's stamp, in ns) go to samples when it is
	// not null. False when the connection ended or broke.
	bool readAvailable(int64_t nowNs, std::vector<int64_t> *samples);

	// Writes all of the bytes, waiting for room; false when the socket broke.
	bool writeAll(const char *data, size_t size);
	// Writes what fits now without waiting; the count written, -1 on failure.
	long writeSome(const char *data, size_t size);

	uint64_t frames() const { return received; }
	uint64_t badFrames() const { return malformed; }

private:
	void consumeFrames(int64_t nowNs, std::vector<int64_t> *samples);
	void recordLatency(const char *payload, uint64_t size, int64_t nowNs, std::vector<int64_t> &samples);

	int socketFd = -1;
	std::vector<char> buffer;
	size_t filled = 0;
	uint64_t received = 0;
	uint64_t malformed = 0;
};

// CLOCK_MONOTONIC in nanoseconds: the stamp publishers put into events.
int64_t monotonicNs();
