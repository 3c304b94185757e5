#include "ThreadCensus.h"

#include <dirent.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {

bool readUsage(const std::string &folder, ThreadUsage &usage)
{
	std::ifstream comm(folder + "/comm");
	std::ifstream schedstat(folder + "/schedstat");
	std::ifstream status(folder + "/status");
	if (!std::getline(comm, usage.name) || !(schedstat >> usage.cpuNs) || !status)
		return false;
	int found = 0;
	const std::pair<const char *, uint64_t *> keys[] = {{"voluntary_ctxt_switches:", &usage.voluntary},
							    {"nonvoluntary_ctxt_switches:", &usage.preempted}};
	for (std::string line; std::getline(status, line);) {
		for (const auto &[key, value] : keys) {
			const size_t length = std::strlen(key);
			if (line.compare(0, length, key) == 0) {
				*value = std::strtoull(line.c_str() + length, nullptr, 10);
				++found;
			}
		}
	}
	return found == 2;
}

} // namespace

ThreadCensus takeThreadCensus()
{
	ThreadCensus census;
	DIR *tasks = opendir("/proc/self/task");
	if (!tasks)
		return census;
	while (const dirent *entry = readdir(tasks)) {
		const long tid = std::strtol(entry->d_name, nullptr, 10);
		ThreadUsage usage;
		if (tid > 0 && readUsage(std::string("/proc/self/task/") + entry->d_name, usage))
			census[tid] = usage;
	}
	closedir(tasks);
	return census;
}
