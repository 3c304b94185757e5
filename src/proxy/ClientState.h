#pragma once

#include "proxy/ClientBacklog.h"
#include "websocket/ReceiveBuffer.h"
#include "websocket/WebSocketFrame.h"

// One accepted connection of the event proxy.
struct ClientState {
	explicit ClientState(ClientBacklog::Limits limits) : backlog(limits) {}

	ReceiveBuffer receiveBuffer;
	FragmentState fragments;
	bool handshakeComplete = false;
	bool authenticated = false;
	// What it was handed and has not taken; its input waits while it has not
	// taken the replies it asked for.
	ClientBacklog backlog;
};
