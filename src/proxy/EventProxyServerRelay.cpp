#include "proxy/EventProxyServer.h"

#include "proxy/ClientState.h"
#include "proxy/SimulatedEvents.h"
#include "threading/ThreadCalls.h"
#include "websocket/WebSocketFrame.h"

#include <QTcpSocket>

#include <cstring>
#include <vector>

// What the event proxy sends the pages: a page's initial state and its
// replies, and the events relayed to every page.

namespace {

// An unmasked text frame in a QByteArray, so that one allocation can serve
// every client of a broadcast.
QByteArray textFrame(std::string_view text)
{
	uint8_t header[kMaxFrameHeaderSize];
	const size_t headerSize = writeFrameHeader(header, text.size(), WebSocketOpcode::Text);
	QByteArray frame(qsizetype(headerSize + text.size()), Qt::Uninitialized);
	std::memcpy(frame.data(), header, headerSize);
	if (!text.empty())
		std::memcpy(frame.data() + headerSize, text.data(), text.size());
	return frame;
}

} // namespace

void EventProxyServer::sendInitialState(QTcpSocket *socket, ClientState &client)
{
	std::string history = "{\"data\":[";
	bool first = true;
	for (const auto &[upid, entry] : histories) {
		if (!first)
			history.push_back(',');
		entry.appendJsonArray(history);
		first = false;
	}
	history += "],\"event_type\":\"X_HISTORY\"}";
	sendReply(socket, client, textFrame(history));
	if (clients.contains(socket))
		sendReply(socket, client, textFrame(R"({"data":["X_LINK"],"event_type":"X_FEATURES"})"));
}

// Replies are asked for by the client itself, for a few bytes each: while it
// leaves them unread it is sent no more, and its further requests wait.
void EventProxyServer::sendReply(QTcpSocket *socket, ClientState &client, const QByteArray &frame)
{
	if (!client.backlog.sendReply(*socket, frame)) {
		closeStalledClient(socket);
		return;
	}
	if (client.backlog.pauseInputIfBehind(*socket))
		connect(socket, &QTcpSocket::bytesWritten, this, &EventProxyServer::onClientBytesWritten,
			Qt::UniqueConnection);
}

void EventProxyServer::broadcastText(const std::string &text, Audience audience)
{
	// One serialisation and one frame for all clients, each holding a
	// reference to it until its flush. Clients whose upgrade has not been
	// answered get nothing, so no frame precedes a 101.
	const QByteArray frame = textFrame(text);
	std::vector<QTcpSocket *> stalled;
	for (auto it = clients.cbegin(); it != clients.cend(); ++it) {
		ClientState &client = *it.value();
		if (!client.handshakeComplete || (audience == Audience::AuthenticatedOnly && !client.authenticated))
			continue;
		QTcpSocket *socket = it.key();
		// A page that stopped reading would otherwise have every broadcast
		// kept for it for as long as OBS runs.
		if (!client.backlog.queue(*socket, frame))
			stalled.push_back(socket);
	}
	// Closed after the loop: closing removes the client from the table.
	for (QTcpSocket *socket : stalled)
		closeStalledClient(socket);
	if (!inInputBatch)
		scheduleFlush();
}

// Events published outside a page's input (a Vek connection's, the host's)
// leave together when control returns to the event loop: a burst of them
// costs each page one gathered send, not one per event.
void EventProxyServer::scheduleFlush()
{
	if (flushScheduled)
		return;
	flushScheduled = true;
	postTo(this, [this] {
		flushScheduled = false;
		flushQueued();
	});
}

void EventProxyServer::flushQueued()
{
	for (auto it = clients.cbegin(); it != clients.cend(); ++it)
		if (it.value()->backlog.hasQueued())
			it.value()->backlog.flush(*it.key());
}

void EventProxyServer::publishRawEvent(const std::string &upid, const nlohmann::json &event)
{
	// Only objects are kept in a history.
	if (!event.is_object()) {
		publishEventText(std::string(), compactJson(event), std::string_view());
		return;
	}
	const auto type = event.find("event_type");
	const std::string_view eventType = type != event.end() && type->is_string()
						   ? std::string_view(type->get_ref<const std::string &>())
						   : std::string_view();
	publishEventText(upid, compactJson(event), eventType);
}

void EventProxyServer::publishEventText(const std::string &upid, std::string text, std::string_view eventType)
{
	broadcastText(text);
	if (!upid.empty())
		histories[upid].record(eventType, std::move(text));
}

void EventProxyServer::publishLogout(const std::string &upid)
{
	publishRawEvent(upid, {{"event_type", "X_LOGOUT"}, {"upid", upid}});
	// The notice leaves now, before the blocked caller goes on to drop the
	// account and answer the page that asked.
	flushClients();
}

void EventProxyServer::flushClients()
{
	flushQueued();
	// A flush that fails on a connection its peer has reset closes it at
	// once, which takes the client out of the table: walk a copy.
	const QList<QTcpSocket *> sockets = clients.keys();
	for (QTcpSocket *socket : sockets)
		if (clients.contains(socket))
			socket->flush();
}

void EventProxyServer::publishResponse(std::string nonce, std::string response)
{
	// Invalid UTF-8 in a body is replaced, never thrown. The bodies answer
	// requests made with the user's Vek token, which only pages holding the
	// proxy token can make: clients without it (any local process, any web
	// site the user's browser has open) do not get them.
	broadcastText(compactJson(json{{"event_type", "X_RESPONSE"},
				       {"nonce", std::move(nonce)},
				       {"response", std::move(response)}}),
		      Audience::AuthenticatedOnly);
}

Result<nlohmann::json> EventProxyServer::simulateEvent(QString type, QString platform, QString username,
						       QString chatMessage)
{
	SimulatedEventSources sources{options.endpoints.avatarUrl, options.endpoints.siteUrl, &randomPickOfFour};
	Result<SimulatedEvent> simulated = buildSimulatedEvent(type, platform, username, chatMessage, sources);
	if (!simulated.ok())
		return simulated.failure();
	publishRawEvent(simulated.value().upid, simulated.value().event);
	return std::move(simulated.value().summary);
}
