// The module in a real OBS Studio: load, docks, pages, host requests and
// events through the real obs-websocket, the event proxy, and a user's quit.

import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, test } from 'node:test';

import {
	callModule, callProbe, connect, connectProxy, eventType, obsWebSocketPort, quitLikeAUser, startLinkedSession,
	stopLinkedSession, until, vendorName,
} from './harness.mjs';

let samples, session, client;
before(async () => ({ samples, session, client } = await startLinkedSession()));
after(() => stopLinkedSession({ samples, session }));

test('OBS, obs-websocket and Qt are the ones installed beside this build', async (t) => {
	const { obsVersion, obsWebSocketVersion } = await client.call('GetVersion');
	const runtime = await callProbe(client, 'versions');
	const ran = `OBS Studio ${obsVersion} (libobs "${runtime.libobs}"), obs-websocket ${obsWebSocketVersion}, Qt ${runtime.qt}`;
	t.diagnostic(ran);
	console.log(`ran against ${ran}`);
	const expect = (name, actual) => {
		if (process.env[name])
			assert.equal(actual, process.env[name], name);
	};
	expect('ZORVA_EXPECTED_OBS_VERSION', obsVersion);
	expect('ZORVA_EXPECTED_OBS_WEBSOCKET_VERSION', obsWebSocketVersion);
	expect('ZORVA_EXPECTED_QT_VERSION', runtime.qt);
	// A distribution's libobs names its own revision too ("32.2.2+ds-1+b2").
	assert.ok(runtime.libobs.startsWith(obsVersion), runtime.libobs);
});

test('OBS loads the module, which registers its vendor at post-load before obs-websocket serves', () => {
	const { log } = session;
	const order = (pattern) => log.lines.findIndex((line) => line.includes(pattern));
	for (const line of ['[vorn-zorva] Registered obs-websocket vendor \'vorn-zorva\' request \'agentTools\'.',
		'[vorn-zorva] Event proxy listening on ws://127.0.0.1:44423', '[vorn-zorva] Loaded docks.',
		'[vorn-zorva] Docks use the plugin\'s own browser panel host (Qt WebEngine): this OBS offers no obs-browser panels.'])
		assert.equal(log.count(line), 1, line);
	assert.ok(log.find(/^info: +vorn-zorva\.so$/), 'OBS lists the module among its loaded modules');
	// Built against this OBS's libobs: one libobs in the process.
	const maps = fs.readFileSync(`/proc/${session.child.pid}/maps`, 'utf8');
	const libobs = new Set(maps.split('\n').map((line) => line.split(/\s+/)[5]).filter((file) => /\/libobs\.so/.test(file ?? '')));
	assert.equal(libobs.size, 1, [...libobs].join(', '));
	// obs-websocket starts its server in its own post-load, after the module's
	// (modules post-load in load order), and the front end finishes loading last.
	assert.ok(order('[vorn-zorva] Registered obs-websocket vendor') < order('[obs-websocket] [obs_module_post_load]'));
	assert.ok(order('[vorn-zorva] Loaded docks.') < order('[real-obs-probe] frontend event FINISHED_LOADING'));
});

test('the four docks are in the main window with their titles, placed on the first run', async () => {
	const expected = new Map([
		['vorn-zorva-dock', 'Vorn - Zorva'],
		['vorn-zorva-chat-dock', 'Vorn - Chat'],
		['vorn-zorva-integrations-dock', 'Vorn - Accounts'],
		['vorn-zorva-stream-manager-dock', 'Vorn - Stream Manager'],
	]);
	const uiState = path.join(session.moduleConfig, 'zorva-ui.json');
	await until(() => fs.existsSync(uiState), { what: 'first placement recorded' });
	const { docks } = await callProbe(client, 'docks');
	const ours = docks.filter((dock) => expected.has(dock.id));
	assert.deepEqual(new Map(ours.map((dock) => [dock.id, dock.title])), expected);
	// Docked and shown: not left floating where OBS first puts added docks.
	for (const dock of ours)
		assert.deepEqual([dock.hasContent, dock.floating, dock.visible], [true, false, true], dock.id);
});

test('the pages load in the panels and connect to obs-websocket and the event proxy', async () => {
	// The chat and stream-manager pages hold the proxy token from their URL.
	await session.log.waitFor('[vorn-zorva] Event proxy accepted authenticated client', { count: 2 });
	await session.log.waitFor('[obs-websocket] [WebSocketServer::onOpen] New WebSocket client', { count: 2 });
});

test('host methods through CallVendorRequest, and the status event after a refresh', async () => {
	const status = await callModule(client, 'zorva.status');
	assert.equal(typeof status.account?.authenticated, 'boolean');
	const bootstrap = await callModule(client, 'zorva.getHostBootstrap');
	assert.equal(bootstrap.host, 'obs');
	// libobs's own string, which may carry a distribution's revision;
	// obs-websocket's GetVersion gives the upstream version alone.
	assert.equal(bootstrap.obsVersion, (await callProbe(client, 'versions')).libobs);
	// Read from the config file obs-websocket itself uses, and reachable.
	assert.equal(bootstrap.obsWebSocket.port, obsWebSocketPort);
	assert.equal(bootstrap.obsWebSocket.password, session.password);
	assert.equal(bootstrap.obsWebSocket.enabled, true);
	assert.equal(bootstrap.obsWebSocket.error, undefined);
	assert.match(bootstrap.eventProxyUrl, /^ws:\/\/127\.0\.0\.1:44423\?token=[A-Za-z0-9]{32}$/);

	const statusEvent = new Promise((resolve) => {
		client.on('VendorEvent', (event) => {
			if (event.vendorName === vendorName && event.eventData?.method === 'zorva.statusChanged')
				resolve(event);
		});
	});
	await callModule(client, 'zorva.refreshHostBootstrap');
	const event = await statusEvent;
	assert.equal(event.eventType, eventType);
	assert.equal(event.eventData.params.hostBootstrap.eventProxyUrl, bootstrap.eventProxyUrl);
});

test('a simulated event reaches a page holding the proxy token', async () => {
	const { eventProxyUrl } = await callModule(client, 'zorva.getHostBootstrap');
	const page = await connectProxy(eventProxyUrl);
	try {
		const result = await callModule(client, 'simulateEvent', { type: 'chat', chatMessage: 'from a real OBS' });
		assert.equal(result.__vendorError, undefined, JSON.stringify(result));
		const event = await until(() => page.messages.find((message) =>
			JSON.stringify(message).includes('from a real OBS')), { what: 'simulated chat event' });
		assert.ok(event.event_type);
	} finally {
		page.close();
	}
});

test('closing the main window ends OBS cleanly, the module unloading after the exit event', async () => {
	const result = await quitLikeAUser(session);
	assert.equal(result.hung, false, 'OBS did not exit within 10 s');
	assert.equal(result.signal, null, `OBS ended by signal ${result.signal} (${result.crash})`);
	assert.equal(result.code, 0);
	const { log } = session;
	assert.equal(log.count('[real-obs-probe] frontend event EXIT'), 1);
	// OBS went through its own shutdown, which unloads the modules.
	assert.equal(log.count('[real-obs-probe] unload'), 1);
	// The browser panels drew beside OBS's own OpenGL without taking its place.
	assert.equal(log.count('Failed to make context current'), 0);
});
