#pragma once

// What every thread of this process has used so far, from the kernel's
// per-thread statistics: CPU time and context switches, voluntary (the thread
// blocked and was woken again) and not (it was preempted: the machine's load).

#include <cstdint>
#include <map>
#include <string>

struct ThreadUsage {
	std::string name;       // comm: at most 15 characters
	uint64_t cpuNs = 0;     // schedstat: time on a CPU
	uint64_t voluntary = 0; // context switches
	uint64_t preempted = 0;
};

// Keyed by kernel thread id; threads that end while being read are left out.
using ThreadCensus = std::map<long, ThreadUsage>;

ThreadCensus takeThreadCensus();
