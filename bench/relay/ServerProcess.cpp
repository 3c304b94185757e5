#include "ServerProcess.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kStartTimeoutMs = 15000;

} // namespace

ServerProcess::~ServerProcess()
{
	stop();
}

bool ServerProcess::start(std::string &error)
{
	int in[2];
	int out[2];
	if (command.empty() || pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
		error = "no command or no pipes";
		return false;
	}
	pid = fork();
	if (pid == 0) {
		dup2(in[0], STDIN_FILENO);
		dup2(out[1], STDOUT_FILENO);
		if (!logFile.empty()) {
			const int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
			if (log >= 0)
				dup2(log, STDERR_FILENO);
		}
		std::vector<char *> argv;
		for (std::string &part : command)
			argv.push_back(part.data());
		argv.push_back(nullptr);
		execvp(argv[0], argv.data());
		_exit(127);
	}
	close(in[0]);
	close(out[1]);
	stdinFd = in[1];
	stdoutFd = out[0];
	if (pid < 0) {
		error = std::string("fork: ") + std::strerror(errno);
		return false;
	}
	std::string line;
	if (!readFirstLine(line, error))
		return false;
	std::istringstream words(line);
	std::string key;
	unsigned value = 0;
	words >> key >> value;
	if (key != "PORT" || value == 0 || value > 65535) {
		error = "unexpected first line: " + line;
		return false;
	}
	listenPort = uint16_t(value);
	// Then optional pairs: the pages' token, and the process that does the
	// serving when the command only starts it (its CPU is the server's).
	for (std::string word; words >> key >> word;) {
		if (key == "TOKEN")
			accessToken = word;
		else if (key == "PID")
			servingPid = pid_t(std::stol(word));
	}
	return true;
}

bool ServerProcess::readFirstLine(std::string &line, std::string &error)
{
	for (;;) {
		pollfd entry{stdoutFd, POLLIN, 0};
		if (poll(&entry, 1, kStartTimeoutMs) != 1) {
			error = "server printed no port in time";
			return false;
		}
		char c;
		if (read(stdoutFd, &c, 1) != 1) {
			error = "server ended before printing its port";
			return false;
		}
		if (c == '\n')
			return true;
		line.push_back(c);
	}
}

void ServerProcess::stop()
{
	if (pid <= 0)
		return;
	close(stdinFd);
	kill(pid, SIGTERM);
	int status = 0;
	waitpid(pid, &status, 0);
	close(stdoutFd);
	pid = -1;
}

double ServerProcess::cpuSeconds() const
{
	std::ifstream stat("/proc/" + std::to_string(servingPid > 0 ? servingPid : pid) + "/stat");
	std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
	// The command name may hold spaces: fields are counted after its ")".
	const size_t end = text.rfind(')');
	if (end == std::string::npos)
		return 0;
	std::istringstream fields(text.substr(end + 2));
	std::string field;
	unsigned long long user = 0;
	unsigned long long system = 0;
	for (int i = 3; i <= 15 && fields >> field; ++i) {
		if (i == 14)
			user = std::stoull(field);
		if (i == 15)
			system = std::stoull(field);
	}
	return double(user + system) / double(sysconf(_SC_CLK_TCK));
}
