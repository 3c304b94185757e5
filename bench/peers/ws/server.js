// The event relay benchmark's peer on the ws package: a broadcast server doing
// the event proxy's work. A text message {"upid": ..., "payload": {...}} from
// any client has its payload serialised once and sent to every connected
// client, the sender included. Listens on 127.0.0.1 (an ephemeral port) and
// prints "PORT <n>" on standard output once it does.
'use strict';

const { WebSocketServer } = require('ws');

const server = new WebSocketServer({ host: '127.0.0.1', port: 0, clientTracking: true, perMessageDeflate: false });

server.on('connection', (socket) => {
	socket.on('message', (data, isBinary) => {
		if (isBinary)
			return;
		let message;
		try {
			message = JSON.parse(data);
		} catch {
			return;
		}
		if (typeof message !== 'object' || message === null || typeof message.upid !== 'string' || !message.upid)
			return;
		const payload = message.payload;
		if (typeof payload !== 'object' || payload === null || Object.keys(payload).length === 0)
			return;
		// One UTF-8 buffer for all clients; ws frames it per client.
		const text = Buffer.from(JSON.stringify(payload));
		for (const client of server.clients)
			client.send(text, { binary: false });
	});
	socket.on('error', () => {});
});

server.on('listening', () => {
	process.stdout.write(`PORT ${server.address().port}\n`);
});

// Ends with its parent: standard input closing means the benchmark is done.
process.stdin.on('end', () => process.exit(0));
process.stdin.resume();
process.on('SIGTERM', () => process.exit(0));
