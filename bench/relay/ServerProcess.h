#pragma once

// A server under test in a process of its own, so that every server of the
// relay benchmark runs alike: started from a command line, it prints
// "PORT <n>" (and " TOKEN <t>" where pages need one, " PID <p>" where another
// process does the serving) on its first line of standard output. Stopped by
// closing its standard input and SIGTERM.

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

class ServerProcess {
public:
	// Standard error goes to the log file (appended) when one is named.
	ServerProcess(std::vector<std::string> commandLine, std::string logPath)
		: command(std::move(commandLine)), logFile(std::move(logPath))
	{
	}
	~ServerProcess();
	ServerProcess(const ServerProcess &) = delete;
	ServerProcess &operator=(const ServerProcess &) = delete;

	bool start(std::string &error);
	void stop();

	uint16_t port() const { return listenPort; }
	const std::string &token() const { return accessToken; }
	// CPU time the process has used so far (user + system), in seconds.
	double cpuSeconds() const;

private:
	bool readFirstLine(std::string &line, std::string &error);

	std::vector<std::string> command;
	std::string logFile;
	pid_t pid = -1;
	pid_t servingPid = -1;
	int stdinFd = -1;
	int stdoutFd = -1;
	uint16_t listenPort = 0;
	std::string accessToken;
};
