#pragma once

#include "ObsWebSocketServer.h"

#include "websocket/ReceiveBuffer.h"
#include "websocket/WebSocketFrame.h"

#include <cstdint>
#include <string>

class QTcpSocket;

// One client of the stand-in obs-websocket: its socket and frames, shared by
// the server (upgrade, frames) and the session (identify, requests, events).
struct ObsWebSocketServer::Connection {
	uint64_t id = 0;
	QTcpSocket *socket = nullptr;
	std::string peer;
	ReceiveBuffer buffer;
	FragmentState fragments;
	bool upgraded = false;
	bool identified = false;
	bool closing = false;
	uint32_t eventSubscriptions = 0;
	std::string challenge; // with a password: this session's, sent in Hello
};
