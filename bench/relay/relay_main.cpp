// The event relay benchmark: the module's event proxy against broadcast
// servers built on other stacks, each in a process of its own and driven
// identically by this program (loopback only, bounded in time). Prints one
// line per measurement and, for each of the module's servers (named
// "zorva…"), a Markdown table of medians against the other stacks; ratios are
// taken round by round, from runs made side by side. The module's servers
// other than the standalone proxy are then checked against the relay's goals.
//
//   zorva_bench_relay [--rounds R] [--clients 1,20,200,200@1000] [--warmup S] [--measure S]
//                     --server NAME=COMMAND [--server NAME=COMMAND ...]
//
// "N@R" measures the latency of N clients at R events per second instead of
// 10 000.

#include "RelayRun.h"
#include "ServerProcess.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct ServerSpec {
	std::string name;
	std::vector<std::string> command;
};

// A client count and the offered load of its latency run.
struct Load {
	int clients = 1;
	int rate = 10000;
	std::string label;
	bool saturate = true; // "N@R" entries measure latency only
};

struct Options {
	int rounds = 3;
	std::vector<Load> loads;
	double warmup = 0.5;
	double measure = 2.0;
	std::string serverLog; // the servers' standard error, or inherited when empty
	std::vector<ServerSpec> servers;
};

std::vector<std::string> split(const std::string &text, char separator)
{
	std::vector<std::string> parts;
	std::istringstream stream(text);
	for (std::string part; std::getline(stream, part, separator);)
		if (!part.empty())
			parts.push_back(part);
	return parts;
}

bool parseOptions(int argc, char **argv, Options &options)
{
	for (int i = 1; i + 1 < argc; i += 2) {
		const std::string key = argv[i];
		const std::string value = argv[i + 1];
		if (key == "--rounds") {
			options.rounds = std::max(1, std::atoi(value.c_str()));
		} else if (key == "--clients") {
			options.loads.clear();
			for (const std::string &entry : split(value, ',')) {
				Load load;
				load.label = entry;
				load.clients = std::max(1, std::atoi(entry.c_str()));
				if (const size_t at = entry.find('@'); at != std::string::npos) {
					load.rate = std::max(1, std::atoi(entry.c_str() + at + 1));
					load.saturate = false;
				}
				options.loads.push_back(load);
			}
		} else if (key == "--warmup") {
			options.warmup = std::atof(value.c_str());
		} else if (key == "--measure") {
			options.measure = std::atof(value.c_str());
		} else if (key == "--server-log") {
			options.serverLog = value;
		} else if (key == "--server" && value.find('=') != std::string::npos) {
			const size_t at = value.find('=');
			options.servers.push_back({value.substr(0, at), split(value.substr(at + 1), ' ')});
		} else {
			return false;
		}
	}
	if (options.loads.empty())
		for (int clients : {1, 20, 200})
			options.loads.push_back({clients, 10000, std::to_string(clients), true});
	return !options.servers.empty();
}

double median(std::vector<double> values)
{
	if (values.empty())
		return 0;
	std::sort(values.begin(), values.end());
	const size_t mid = values.size() / 2;
	return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// Saturation and latency for one client count on a fresh server process.
RelayFigures measure(const ServerSpec &spec, const Options &options, const Load &load)
{
	RelayFigures figures;
	figures.clients = load.clients;
	ServerProcess server(spec.command, options.serverLog);
	std::string error;
	if (!server.start(error)) {
		figures.saturationProblem = figures.latencyProblem = error;
		return figures;
	}
	RelayRun::Settings settings;
	settings.clients = load.clients;
	settings.offeredRate = load.rate;
	settings.warmupSeconds = options.warmup;
	settings.measureSeconds = options.measure;
	if (load.saturate) {
		RelayRun run(server, settings);
		if (!run.connect(error)) {
			figures.saturationProblem = figures.latencyProblem = error;
			return figures;
		}
		run.saturate(figures);
		// Fresh connections, so nothing of the saturation run is still queued.
		usleep(100000);
	}
	RelayRun run(server, settings);
	if (!run.connect(error))
		figures.latencyProblem = error;
	else
		run.measureLatency(figures);
	return figures;
}

// Deliveries per second of server CPU: what a server gets done with the CPU
// it was given, which on a shared machine varies from run to run.
double perCpu(const RelayFigures &figures)
{
	return figures.serverCpu > 0 ? figures.deliveriesPerSecond / figures.serverCpu : 0;
}

std::string formatRatio(double ratio)
{
	char text[32];
	std::snprintf(text, sizeof(text), "%.2fx", ratio);
	return text;
}

using Results = std::map<std::string, std::map<std::string, std::vector<RelayFigures>>>;

std::string ratioCell(const Results &results, const std::string &base, const std::string &peer, const Load &load)
{
	const auto &ours = results.at(base).at(load.label);
	const auto &theirs = results.at(peer).at(load.label);
	std::vector<double> throughput;
	std::vector<double> efficiency;
	std::vector<double> p99;
	for (size_t round = 0; round < ours.size() && round < theirs.size(); ++round) {
		if (ours[round].saturationProblem.empty() && theirs[round].saturationProblem.empty() &&
		    theirs[round].deliveriesPerSecond > 0) {
			throughput.push_back(ours[round].deliveriesPerSecond / theirs[round].deliveriesPerSecond);
			if (ours[round].serverCpu > 0 && theirs[round].serverCpu > 0)
				efficiency.push_back(perCpu(ours[round]) / perCpu(theirs[round]));
		}
		if (ours[round].latencyProblem.empty() && theirs[round].latencyProblem.empty() && ours[round].p99Us > 0)
			p99.push_back(theirs[round].p99Us / ours[round].p99Us);
	}
	const auto cell = [](const std::vector<double> &ratios, const char *none) {
		return ratios.empty() ? std::string(none) : formatRatio(median(ratios));
	};
	return cell(throughput, "-") + " | " + cell(efficiency, "-") + " | " + cell(p99, "n/a");
}

// The module's own servers are named "zorva…" (standalone, in the stand-in
// host, in OBS); each is compared with the other stacks in a table of its own.
bool isOurs(const ServerSpec &spec)
{
	return spec.name.rfind("zorva", 0) == 0;
}

void printRow(const Options &options, const Results &results, const std::string &base, const ServerSpec &spec,
	      const Load &load)
{
	std::vector<double> rate, cpu, efficiency, p50, p99;
	for (const RelayFigures &f : results.at(spec.name).at(load.label)) {
		if (f.saturationProblem.empty()) {
			rate.push_back(f.deliveriesPerSecond);
			cpu.push_back(f.serverCpu);
			efficiency.push_back(perCpu(f));
		}
		if (f.latencyProblem.empty()) {
			p50.push_back(f.p50Us);
			p99.push_back(f.p99Us);
		}
	}
	const std::string ratio = spec.name == base ? "- | - | -" : ratioCell(results, base, spec.name, load);
	char throughput[96] = "- | - | -";
	if (load.saturate && !rate.empty())
		std::snprintf(throughput, sizeof(throughput), "%.0f | %.2f | %.0f", median(rate), median(cpu),
			      median(efficiency));
	else if (load.saturate)
		std::snprintf(throughput, sizeof(throughput), "failed | - | -");
	// Past its capacity a server queues without bound (or, the event
	// proxy, closes the clients it cannot serve): no latency to quote.
	char latency[64];
	if (!p99.empty())
		std::snprintf(latency, sizeof(latency), "%.0f | %.0f", median(p50), median(p99));
	else
		std::snprintf(latency, sizeof(latency), "overloaded | overloaded");
	std::printf("| %d | %s | %s | %d | %s | %zu+%zu/%d | %s |\n", load.clients, spec.name.c_str(), throughput,
		    load.rate, latency, rate.size(), p99.size(), options.rounds, ratio.c_str());
}

void printTable(const Options &options, const Results &results, const std::string &base)
{
	std::printf(
		"\n| clients | server | deliveries/s | server CPU (cores) | deliveries per CPU-s | latency load ev/s | "
		"p50 us | p99 us | runs ok (rate+latency) | %s throughput vs | %s per CPU-s vs | %s p99 advantage "
		"|\n|---|---|---|---|---|---|---|---|---|---|---|---|\n",
		base.c_str(), base.c_str(), base.c_str());
	for (const Load &load : options.loads)
		for (const ServerSpec &spec : options.servers)
			if (spec.name == base || !isOurs(spec))
				printRow(options, results, base, spec, load);
}

// The relay's goals for the module as users run it, against QtWebSockets:
// medians of the per-round ratios, as in the tables.
void printGoals(const Options &options, const Results &results, const std::string &ours, const std::string &peer)
{
	if (!results.count(ours) || !results.count(peer))
		return;
	std::printf("\n| goal, %s against %s | median | met |\n|---|---|---|\n", ours.c_str(), peer.c_str());
	for (const Load &load : options.loads) {
		const auto &mine = results.at(ours).at(load.label);
		const auto &theirs = results.at(peer).at(load.label);
		std::vector<double> throughput, p99, advantage;
		for (size_t round = 0; round < mine.size() && round < theirs.size(); ++round) {
			if (load.saturate && mine[round].saturationProblem.empty() &&
			    theirs[round].saturationProblem.empty() && theirs[round].deliveriesPerSecond > 0)
				throughput.push_back(mine[round].deliveriesPerSecond /
						     theirs[round].deliveriesPerSecond);
			if (mine[round].latencyProblem.empty())
				p99.push_back(mine[round].p99Us);
			if (mine[round].latencyProblem.empty() && theirs[round].latencyProblem.empty() &&
			    mine[round].p99Us > 0)
				advantage.push_back(theirs[round].p99Us / mine[round].p99Us);
		}
		const auto line = [](const std::string &what, const std::vector<double> &values, const char *unit,
				     bool met) {
			if (values.empty())
				std::printf("| %s | no run completed | no |\n", what.c_str());
			else
				std::printf("| %s | %.2f%s | %s |\n", what.c_str(), median(values), unit,
					    met ? "yes" : "no");
		};
		if (load.saturate && (load.clients == 20 || load.clients == 200))
			line("deliveries at " + std::to_string(load.clients) + " pages >= 2x", throughput, "x",
			     median(throughput) >= 2);
		if (load.clients == 20 && load.rate == 10000)
			line("p99 at 10000 events/s x 20 pages <= 500 us", p99, " us",
			     !p99.empty() && median(p99) <= 500);
		if (load.clients == 200 && load.rate == 1000)
			line("p99 at 1000 events/s x 200 pages <= a tenth of " + peer, advantage, "x better",
			     median(advantage) >= 10);
	}
}

} // namespace

int main(int argc, char **argv)
{
	Options options;
	if (!parseOptions(argc, argv, options)) {
		std::fprintf(stderr,
			     "usage: %s [--rounds R] [--clients 1,20,200] [--warmup S] [--measure S] "
			     "[--server-log FILE] --server NAME=COMMAND...\n",
			     argv[0]);
		return 2;
	}
	Results results;
	for (int round = 1; round <= options.rounds; ++round) {
		for (const Load &load : options.loads) {
			for (const ServerSpec &spec : options.servers) {
				const RelayFigures f = measure(spec, options, load);
				results[spec.name][load.label].push_back(f);
				std::printf(
					"round %d %-13s clients %3d: %9.0f deliveries/s, server %.2f cores, driver %.2f "
					"cores; at %d events/s p50 %.0f us p99 %.0f us (%.3f delivered)%s%s%s%s\n",
					round, spec.name.c_str(), load.clients, f.deliveriesPerSecond, f.serverCpu,
					f.driverCpu, load.rate, f.p50Us, f.p99Us, f.deliveredShare,
					f.saturationProblem.empty() ? "" : "; saturation run: ",
					f.saturationProblem.c_str(),
					f.latencyProblem.empty() ? "" : "; latency run: ", f.latencyProblem.c_str());
				std::fflush(stdout);
			}
		}
	}
	for (const ServerSpec &spec : options.servers)
		if (isOurs(spec))
			printTable(options, results, spec.name);
	for (const ServerSpec &spec : options.servers)
		if (isOurs(spec) && spec.name != "zorva")
			printGoals(options, results, spec.name, "qtwebsockets");
	return 0;
}
