#pragma once

enum class DockKind : int {
	Main = 0,
	Accounts = 1,
	Chat = 2,
	StreamManager = 3,
};
