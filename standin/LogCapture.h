#pragma once

#include <mutex>
#include <string>
#include <vector>

// Collects every libobs log line (level and formatted text) and echoes it to
// standard error. Thread-safe: the module logs from its worker thread too.
class LogCapture {
public:
	struct Line {
		int level;
		std::string text;
	};

	static LogCapture &instance();

	// Routes libobs logging here; call before obs_startup.
	void install();

	std::vector<Line> lines() const;
	// Lines whose text contains the fragment.
	std::vector<Line> matching(const std::string &fragment) const;
	size_t count(const std::string &fragment) const { return matching(fragment).size(); }
	void setEcho(bool enabled);
	// Forgets every line captured so far.
	void clear();

	void append(int level, std::string text);

private:
	mutable std::mutex mutex;
	std::vector<Line> captured;
	bool echo = true;
};
