#pragma once

// One relay measurement against a running server: N counting clients and one
// publisher connection, all on this thread over epoll. The publisher sends
// {"upid": ..., "payload": event} messages; the server relays each payload to
// every client (the publisher too, which reads and drops its copies).

#include "RelayClient.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct RelayFigures {
	int clients = 0;
	double deliveriesPerSecond = 0; // at saturation, across the clients
	double serverCpu = 0;           // cores the server used at saturation
	double driverCpu = 0;           // cores this process used at saturation
	double p50Us = 0;               // publish -> client read at the fixed load
	double p99Us = 0;
	double deliveredShare = 0; // latency run: deliveries seen / deliveries due
	// Empty when every event reached every client in that run.
	std::string saturationProblem;
	std::string latencyProblem;
};

class ServerProcess;

class RelayRun {
public:
	struct Settings {
		int clients = 20;
		double warmupSeconds = 0.5;
		double measureSeconds = 2.0;
		size_t eventBytes = 1024;
		int window = 1000;       // events the publisher may run ahead of the slowest client
		int offeredRate = 10000; // events per second in the latency run
	};

	RelayRun(const ServerProcess &server, Settings settings);
	~RelayRun();

	bool connect(std::string &error);
	void saturate(RelayFigures &figures);
	void measureLatency(RelayFigures &figures);

private:
	void appendEvent(std::string &out);
	bool pollOnce(int timeoutMs, std::vector<int64_t> *samples);
	bool flushPublisher();
	uint64_t slowest() const;
	uint64_t delivered() const;
	bool drain(double seconds);

	const ServerProcess &server;
	Settings settings;
	std::vector<std::unique_ptr<RelayClient>> clients;
	RelayClient publisher;
	int epollFd = -1;
	std::string pending; // publisher bytes not yet written
	uint64_t published = 0;
	bool publisherWaiting = false;
	std::string failure;
};
