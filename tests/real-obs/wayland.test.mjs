// OBS as a native Wayland client, under Weston's headless compositor: OBS
// turns obs-browser's panels off there, and the module's docks are panels of
// its own host, whose pages load and connect as under X11.

import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, test } from 'node:test';

import {
	callProbe, cleanUp, connect, LineLog, prepareHome, quitLikeAUser, startObs, startSamples, vendorName,
} from './harness.mjs';

const socket = 'wayland-zorva';
const weston = fs.existsSync('/usr/bin/weston') ? '/usr/bin/weston' : null;

let compositor;
let samples;
let session;

before(async () => {
	if (!weston)
		return;
	const runtime = fs.mkdtempSync(path.join(os.tmpdir(), 'zorva-wayland-'));
	fs.chmodSync(runtime, 0o700);
	const child = spawn(weston, ['--backend=headless', '--renderer=gl', `--socket=${socket}`, '--width=1600',
		'--height=1000'], { env: { ...process.env, XDG_RUNTIME_DIR: runtime }, stdio: ['ignore', 'pipe', 'pipe'] });
	compositor = { child, runtime, log: new LineLog(child.stdout, child.stderr) };
	// The compositor is up once its socket is.
	await new Promise((resolve, reject) => {
		const timer = setInterval(() => {
			if (fs.existsSync(path.join(runtime, socket))) {
				clearInterval(timer);
				resolve();
			}
		}, 50);
		child.once('exit', (code) => {
			clearInterval(timer);
			reject(new Error(`weston exited (${code}): ${compositor.log.lines.join('\n')}`));
		});
	});
	// OBS, and the panels with it, run as Wayland clients.
	Object.assign(process.env, { XDG_RUNTIME_DIR: runtime, WAYLAND_DISPLAY: socket, QT_QPA_PLATFORM: 'wayland' });
	samples = await startSamples();
	session = await startObs(prepareHome());
});

after(async () => {
	await cleanUp(session);
	await samples?.stop();
	compositor?.child.kill('SIGTERM');
	if (compositor)
		fs.rmSync(compositor.runtime, { recursive: true, force: true });
});

test('under Wayland the docks are the plugin\'s own panels, their pages connect, and OBS quits cleanly',
	{ skip: !weston && 'no Weston in this root' }, async () => {
		const { log } = session;
		assert.equal(log.count('Platform: Wayland'), 1);
		assert.equal(log.count('[vorn-zorva] Docks use the plugin\'s own browser panel host (Qt WebEngine): ' +
			'OBS runs under Wayland, where obs-browser\'s panels are off.'), 1);
		const client = await connect(session);
		const { docks } = await callProbe(client, 'docks');
		assert.deepEqual(docks.filter((dock) => dock.id.startsWith(vendorName)).map((dock) => dock.hasContent),
			[true, true, true, true]);
		await log.waitFor('[vorn-zorva] Event proxy accepted authenticated client', { count: 2 });
		await log.waitFor('[obs-websocket] [WebSocketServer::onOpen] New WebSocket client', { count: 3 });
		const result = await quitLikeAUser(session);
		assert.deepEqual([result.hung, result.signal, result.code], [false, null, 0]);
	});
