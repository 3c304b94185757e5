// A streamer quits OBS (closes the main window) in the middle of a show: pages
// keep calling the module through obs-websocket, a linked account streams its
// events, pages hold the event proxy. OBS must exit, cleanly and soon, every
// time: repeated to catch a race.

import assert from 'node:assert/strict';
import { test } from 'node:test';

import {
	callModule, cleanUp, connect, connectProxy, prepareHome, quitLikeAUser, startObs, startSamples, until,
} from './harness.mjs';

const runs = Number(process.env.ZORVA_REAL_OBS_EXIT_RUNS ?? 5);
const callers = 4;
const pages = 3;

// Calls the module back to back until the connection ends.
async function keepCalling(client, counts) {
	const methods = ['zorva.status', 'zorva.getHostBootstrap', 'accounts.list', 'simulateEvent'];
	for (let i = 0; ; ++i) {
		const method = methods[i % methods.length];
		try {
			const answer = await callModule(client, method, method === 'simulateEvent' ? { type: 'follow' } : {},
				String(i));
			++counts.answered;
			if (answer.errorCode === 'HOST_SHUTTING_DOWN')
				++counts.refusedAtExit;
		} catch {
			return; // OBS went away
		}
	}
}

async function oneRun(run) {
	const setup = prepareHome();
	const samples = await startSamples(setup.authFile);
	let session;
	try {
		session = await startObs(setup);
		await session.log.waitFor('[vorn-zorva] Vek websocket connected platform=TWITCH upid=twitch-demo');
		const first = await connect(session);
		const { eventProxyUrl } = await callModule(first, 'zorva.getHostBootstrap');
		const sockets = await Promise.all(Array.from({ length: pages }, () => connectProxy(eventProxyUrl)));
		const counts = { answered: 0, refusedAtExit: 0 };
		const loops = [];
		for (let i = 0; i < callers; ++i)
			loops.push(keepCalling(await connect(session), counts));
		// Requests flowing, and the linked account's events reaching every page.
		await until(() => counts.answered >= 50, { what: `run ${run}: requests answered` });
		await until(() => sockets.every((socket) => socket.messages.some((m) => m.event_type === 'FOLLOW')),
			{ what: `run ${run}: events at every page` });

		const result = await quitLikeAUser(session);
		assert.equal(result.hung, false, `run ${run}: OBS still running 10 s after its window was closed`);
		assert.equal(result.signal, null, `run ${run}: OBS ended by signal ${result.signal} (${result.crash})`);
		assert.equal(result.code, 0, `run ${run}: exit status ${result.code}`);
		await Promise.all(loops);
		for (const socket of sockets)
			socket.terminate();
		return `${result.afterMs} ms (${counts.refusedAtExit} requests refused at exit)`;
	} finally {
		await cleanUp(session);
		await samples.stop();
	}
}

test(`OBS exits within 10 s with status 0 when closed under load, ${runs} times`, async () => {
	const durations = [];
	for (let run = 1; run <= runs; ++run)
		durations.push(await oneRun(run));
	console.log(`exit after the window closed: ${durations.join(', ')}`);
});

// Closed as soon as it has started, while the docks' pages are still loading
// (and the module reloads them as OBS shows the docks on its way out).
test('OBS exits with status 0 when closed right after start, 3 times', async () => {
	for (let run = 1; run <= 3; ++run) {
		const setup = prepareHome();
		const samples = await startSamples(setup.authFile);
		let session;
		try {
			session = await startObs(setup);
			const result = await quitLikeAUser(session);
			assert.deepEqual([result.hung, result.signal, result.code], [false, null, 0], `run ${run}`);
		} finally {
			await cleanUp(session);
			await samples.stop();
		}
	}
});
