#include "RelayRun.h"

#include "ServerProcess.h"

#include <algorithm>
#include <cstring>

#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {

constexpr int kPublishBatch = 64;
constexpr double kDrainSeconds = 10.0;

double processCpuSeconds()
{
	rusage usage{};
	getrusage(RUSAGE_SELF, &usage);
	return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
	       double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double percentile(std::vector<int64_t> &samples, double share)
{
	if (samples.empty())
		return 0;
	const size_t index = std::min(samples.size() - 1, size_t(share * double(samples.size())));
	std::nth_element(samples.begin(), samples.begin() + long(index), samples.end());
	return double(samples[index]) / 1000.0;
}

// A masked text frame with the zero key: the server unmasks it all the same.
void appendMaskedTextFrame(std::string &out, const std::string &payload)
{
	const size_t n = payload.size();
	out.push_back(char(0x81));
	if (n <= 125) {
		out.push_back(char(0x80 | n));
	} else {
		out.push_back(char(0x80 | 126));
		out.push_back(char(n >> 8));
		out.push_back(char(n & 0xFF));
	}
	out.append(4, '\0');
	out += payload;
}

} // namespace

RelayRun::RelayRun(const ServerProcess &target, Settings runSettings) : server(target), settings(runSettings) {}

RelayRun::~RelayRun()
{
	if (epollFd >= 0)
		close(epollFd);
}

bool RelayRun::connect(std::string &error)
{
	const std::string target = server.token().empty() ? "/" : "/?token=" + server.token();
	epollFd = epoll_create1(EPOLL_CLOEXEC);
	for (int i = 0; i < settings.clients; ++i) {
		clients.push_back(std::make_unique<RelayClient>());
		if (!clients.back()->open(server.port(), target, error))
			return false;
	}
	if (!publisher.open(server.port(), target, error))
		return false;
	for (size_t i = 0; i <= clients.size(); ++i) {
		RelayClient *client = i < clients.size() ? clients[i].get() : &publisher;
		epoll_event entry{};
		entry.events = EPOLLIN;
		entry.data.ptr = client;
		epoll_ctl(epollFd, EPOLL_CTL_ADD, client->fd(), &entry);
	}
	return true;
}

void RelayRun::appendEvent(std::string &out)
{
	// About eventBytes of relayed payload; "at" first, in every server's order.
	std::string payload = "{\"at\":" + std::to_string(monotonicNs()) +
			      ",\"event_type\":\"RICH_MESSAGE\",\"n\":" + std::to_string(published) + ",\"raw\":\"";
	payload.append(settings.eventBytes > payload.size() + 2 ? settings.eventBytes - payload.size() - 2 : 0, 'x');
	payload += "\"}";
	appendMaskedTextFrame(out, "{\"upid\":\"bench\",\"payload\":" + payload + "}");
	++published;
}

bool RelayRun::flushPublisher()
{
	if (pending.empty())
		return true;
	const long written = publisher.writeSome(pending.data(), pending.size());
	if (written < 0) {
		failure = "publisher connection broke";
		return false;
	}
	pending.erase(0, size_t(written));
	const bool waiting = !pending.empty();
	if (waiting != publisherWaiting) {
		epoll_event entry{};
		entry.events = waiting ? uint32_t(EPOLLIN | EPOLLOUT) : uint32_t(EPOLLIN);
		entry.data.ptr = &publisher;
		epoll_ctl(epollFd, EPOLL_CTL_MOD, publisher.fd(), &entry);
		publisherWaiting = waiting;
	}
	return true;
}

bool RelayRun::pollOnce(int timeoutMs, std::vector<int64_t> *samples)
{
	epoll_event ready[256];
	const int count = epoll_wait(epollFd, ready, 256, timeoutMs);
	const int64_t now = monotonicNs();
	for (int i = 0; i < count; ++i) {
		auto *client = static_cast<RelayClient *>(ready[i].data.ptr);
		if ((ready[i].events & EPOLLOUT) && !flushPublisher())
			return false;
		if (!(ready[i].events & (EPOLLIN | EPOLLERR | EPOLLHUP)))
			continue;
		if (!client->readAvailable(now, client == &publisher ? nullptr : samples)) {
			failure = client == &publisher ? "publisher connection closed by the server"
						       : "a client was closed by the server";
			return false;
		}
	}
	return true;
}

uint64_t RelayRun::slowest() const
{
	uint64_t least = UINT64_MAX;
	for (const auto &client : clients)
		least = std::min(least, client->frames());
	return least;
}

uint64_t RelayRun::delivered() const
{
	uint64_t total = 0;
	for (const auto &client : clients)
		total += client->frames();
	return total;
}

bool RelayRun::drain(double seconds)
{
	const int64_t deadline = monotonicNs() + int64_t(seconds * 1e9);
	while (slowest() < published || !pending.empty()) {
		if (monotonicNs() > deadline) {
			failure = "events missing after " + std::to_string(seconds) + " s: slowest client at " +
				  std::to_string(slowest()) + " of " + std::to_string(published);
			return false;
		}
		if (!flushPublisher() || !pollOnce(10, nullptr))
			return false;
	}
	return true;
}

void RelayRun::saturate(RelayFigures &figures)
{
	figures.clients = settings.clients;
	const int64_t start = monotonicNs();
	const int64_t measureFrom = start + int64_t(settings.warmupSeconds * 1e9);
	const int64_t measureTo = measureFrom + int64_t(settings.measureSeconds * 1e9);
	bool measuring = false;
	uint64_t deliveredAtStart = 0;
	double serverCpuAtStart = 0;
	double driverCpuAtStart = 0;
	for (int64_t now = start; now < measureTo; now = monotonicNs()) {
		if (!measuring && now >= measureFrom) {
			measuring = true;
			deliveredAtStart = delivered();
			serverCpuAtStart = server.cpuSeconds();
			driverCpuAtStart = processCpuSeconds();
		}
		// Publish as fast as the server takes events, up to the window.
		const uint64_t least = slowest();
		for (int i = 0; i < kPublishBatch && published - least < uint64_t(settings.window); ++i)
			appendEvent(pending);
		if (!flushPublisher() || !pollOnce(1, nullptr)) {
			figures.saturationProblem = failure;
			return;
		}
	}
	const double seconds = double(monotonicNs() - measureFrom) / 1e9;
	figures.deliveriesPerSecond = double(delivered() - deliveredAtStart) / seconds;
	figures.serverCpu = (server.cpuSeconds() - serverCpuAtStart) / seconds;
	figures.driverCpu = (processCpuSeconds() - driverCpuAtStart) / seconds;
	if (!drain(kDrainSeconds))
		figures.saturationProblem = failure;
}

void RelayRun::measureLatency(RelayFigures &figures)
{
	figures.clients = settings.clients;
	const int timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
	const long periodNs = 1000000000L / settings.offeredRate;
	itimerspec period{{0, periodNs}, {0, periodNs}};
	timerfd_settime(timer, 0, &period, nullptr);
	epoll_event entry{};
	entry.events = EPOLLIN;
	entry.data.ptr = nullptr;
	epoll_ctl(epollFd, EPOLL_CTL_ADD, timer, &entry);

	std::vector<int64_t> samples;
	samples.reserve(size_t(settings.measureSeconds * settings.offeredRate * settings.clients * 1.1));
	const int64_t start = monotonicNs();
	const int64_t measureFrom = start + int64_t(settings.warmupSeconds * 1e9);
	const int64_t measureTo = measureFrom + int64_t(settings.measureSeconds * 1e9);
	uint64_t firstMeasured = 0;
	bool measuring = false;
	epoll_event ready[256];
	while (figures.latencyProblem.empty()) {
		const int64_t now = monotonicNs();
		if (!measuring && now >= measureFrom) {
			measuring = true;
			firstMeasured = published;
			samples.clear();
		}
		if (now >= measureTo)
			break;
		const int count = epoll_wait(epollFd, ready, 256, 5);
		const int64_t readAt = monotonicNs();
		for (int i = 0; i < count && figures.latencyProblem.empty(); ++i) {
			auto *client = static_cast<RelayClient *>(ready[i].data.ptr);
			if (!client) {
				uint64_t expirations = 0;
				if (read(timer, &expirations, sizeof(expirations)) == sizeof(expirations))
					for (uint64_t e = 0; e < expirations; ++e)
						appendEvent(pending);
				if (!flushPublisher())
					figures.latencyProblem = failure;
				continue;
			}
			if ((ready[i].events & EPOLLOUT) && !flushPublisher())
				figures.latencyProblem = failure;
			else if ((ready[i].events & (EPOLLIN | EPOLLERR | EPOLLHUP)) &&
				 !client->readAvailable(
					 readAt, client == &publisher ? nullptr : (measuring ? &samples : nullptr)))
				figures.latencyProblem = client == &publisher ? "publisher closed by the server"
									      : "a client was closed by the server";
		}
	}
	epoll_ctl(epollFd, EPOLL_CTL_DEL, timer, nullptr);
	close(timer);
	const uint64_t lastMeasured = published;
	// What was sent in the window is still arriving; late arrivals count too.
	if (figures.latencyProblem.empty()) {
		const int64_t deadline = monotonicNs() + int64_t(kDrainSeconds * 1e9);
		while (slowest() < published && monotonicNs() < deadline && figures.latencyProblem.empty()) {
			if (!flushPublisher() || !pollOnce(10, &samples))
				figures.latencyProblem = failure;
		}
		if (slowest() < published && figures.latencyProblem.empty())
			figures.latencyProblem = "events missing in the latency run";
	}
	const double due = double(lastMeasured - firstMeasured) * settings.clients;
	figures.deliveredShare = due > 0 ? double(samples.size()) / due : 0;
	figures.p50Us = percentile(samples, 0.50);
	figures.p99Us = percentile(samples, 0.99);
}
