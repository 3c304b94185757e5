#pragma once

// What every thread of this process has used so far, from the kernel's
// per-thread statistics: CPU time and context switches (each time a thread
// blocks and is woken again, or is preempted, counts one).

#include <cstdint>
#include <map>
#include <string>

struct ThreadUsage {
	std::string name;     // comm: at most 15 characters
	uint64_t cpuNs = 0;   // schedstat: time on a CPU
	uint64_t switches = 0; // voluntary + nonvoluntary context switches
};

// Keyed by kernel thread id; threads that end while being read are left out.
using ThreadCensus = std::map<long, ThreadUsage>;

ThreadCensus takeThreadCensus();
