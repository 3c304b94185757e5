#pragma once

// The module's cost while nothing happens, in three states of one stand-in
// OBS run each: logged out; logged in with two linked accounts whose Vek
// sessions exchange only keep-alives; the same with the four dock pages
// connected to the event proxy. Per thread: CPU time and wake-ups per second
// over the window.

#include <chrono>

struct IdleOptions {
	std::chrono::seconds window{60};
	// Vek's keep-alive rhythm is the service's own; the module only echoes.
	int keepAliveIntervalMs = 10000;
};

enum class IdleState { LoggedOut = 1, LoggedIn = 2, PagesConnected = 3 };

// One state in this process; prints its table. 75: the module's ports were taken.
int runIdleState(IdleState state, const IdleOptions &options);
