// How often OBS dies at quit, with and without the module, under one client
// pattern: obs-websocket clients that vanish without a close frame as the
// main window closes (as the dock pages' connections do when the docks go at
// the exit event), beside one client that stays. Not a test: a census, run
// by hand in a root (scripts/obs-root census <suite> [runs]).
//
//   node quit-census.mjs [--runs N] [--module with|without|both] [--vanish-at LOG-LINE]

import { spawn } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';

import {
	callProbe, cleanUp, connect, obsWebSocketPort, prepareHome, quitLikeAUser, startObs, vendorName,
} from '../../tests/real-obs/harness.mjs';

const option = (name, fallback) => {
	const index = process.argv.indexOf(`--${name}`);
	return index >= 0 ? process.argv[index + 1] : fallback;
};
const runs = Number(option('runs', '20'));
// The log line at which the vanishing clients are killed.
const vanishAt = option('vanish-at', '[obs-websocket] [obs_module_unload] Shutting down');
const variants = option('module', 'both') === 'both' ? ['with', 'without'] : [option('module', 'both')];

// Clients in a process of their own, identified with obs-websocket, which
// is killed as the window closes: their sockets end without a close frame.
const vanishingClients = `
import { OBSWebSocket } from 'obs-websocket-js/json';
const clients = [];
for (let i = 0; i < 3; ++i) {
	const client = new OBSWebSocket();
	await client.connect('ws://127.0.0.1:${obsWebSocketPort}', process.argv[2]);
	clients.push(client);
}
console.log('connected');
setInterval(() => clients.forEach((client) => client.call('GetStats').catch(() => {})), 20);
`;

async function startVanishingClients(password) {
	// Beside the harness, where node finds obs-websocket-js.
	const script = path.resolve(path.dirname(new URL(import.meta.url).pathname), '../../tests/real-obs/.vanishing-clients.mjs');
	fs.writeFileSync(script, vanishingClients);
	const child = spawn(process.execPath, [script, password], { stdio: ['ignore', 'pipe', 'inherit'] });
	await new Promise((resolve, reject) => {
		child.stdout.on('data', (data) => data.toString().includes('connected') && resolve());
		child.on('exit', (code) => reject(new Error(`vanishing clients exited (${code})`)));
	});
	return child;
}

async function oneRun(withModule) {
	const setup = prepareHome();
	if (!withModule)
		fs.rmSync(path.join(setup.obsConfig, 'plugins', vendorName), { recursive: true });
	let session;
	try {
		session = await startObs(setup, { withModule });
		const client = await connect(session);
		await callProbe(client, 'docks');
		const vanishing = await startVanishingClients(setup.password);
		const quitting = quitLikeAUser(session);
		// They vanish as obs-websocket shuts down, still asking.
		await session.log.waitFor(vanishAt, { timeoutMs: 15000 }).catch(() => {});
		vanishing.kill('SIGKILL');
		const result = await quitting;
		return {
			...result,
			invalidState: session.log.count('Sending message to client failed: invalid state'),
			lastLines: result.signal ? session.log.lines.slice(-15) : [],
		};
	} finally {
		await cleanUp(session);
	}
}

for (const variant of variants) {
	const tally = { runs: 0, clean: 0, signals: {}, hung: 0, otherStatus: 0, invalidState: 0 };
	for (let run = 0; run < runs; ++run) {
		const result = await oneRun(variant === 'with');
		tally.runs++;
		if (result.hung)
			tally.hung++;
		else if (result.signal) {
			tally.signals[result.signal] = (tally.signals[result.signal] ?? 0) + 1;
			console.log(`${variant} run ${run + 1}: ${result.signal}\n  ${result.lastLines.join('\n  ')}`);
		} else if (result.code === 0)
			tally.clean++;
		else
			tally.otherStatus++;
		tally.invalidState += result.invalidState > 0 ? 1 : 0;
	}
	console.log(`${variant} the module: ${JSON.stringify(tally)}`);
}
