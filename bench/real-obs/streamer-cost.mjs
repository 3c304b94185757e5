// What the module costs a streamer in a real OBS Studio, against OBS alone
// (obs-websocket and the probe): start-up to the front end's FINISHED_LOADING
// (as the probe reports it), the memory of OBS with every process it started
// (proportional set sizes, so shared pages count once), and the frames OBS
// skips to rendering lag (obs-websocket's GetStats) in a window while chat
// events reach the chat dock's page. Interleaved runs, medians.
//
//   node streamer-cost.mjs [--runs N] [--window S] [--rate EVENTS-PER-S]
//   (variables as scripts/bench sets them)

import fs from 'node:fs';
import path from 'node:path';

import {
	callModule, cleanUp, connect, connectProxy, panelHostFolder, prepareHome, quitLikeAUser, startObs, startSamples,
	vendorName,
} from '../../tests/real-obs/harness.mjs';

const option = (name, fallback) => {
	const index = process.argv.indexOf(`--${name}`);
	return Number(index > 0 ? process.argv[index + 1] : fallback);
};
const runs = option('runs', 3);
const windowSeconds = option('window', 60);
const rate = option('rate', 100);

const configurations = [
	{ label: 'OBS alone (obs-websocket, probe)', remove: [vendorName], module: false },
	{ label: 'with the module, no panel host', remove: [panelHostFolder], module: true },
	{ label: 'with the module and its four docks', remove: [], module: true, docks: true },
];

function median(values) {
	const sorted = [...values].sort((a, b) => a - b);
	const mid = Math.floor(sorted.length / 2);
	return sorted.length % 2 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
}

// The process and every process below it, from /proc.
function processTree(root) {
	const parents = new Map();
	for (const entry of fs.readdirSync('/proc').filter((name) => /^\d+$/.test(name))) {
		try {
			const stat = fs.readFileSync(`/proc/${entry}/stat`, 'utf8');
			parents.set(Number(entry), Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]));
		} catch {
			// gone meanwhile
		}
	}
	const tree = [root];
	for (let i = 0; i < tree.length; ++i)
		for (const [pid, parent] of parents)
			if (parent === tree[i])
				tree.push(pid);
	return tree;
}

function pssMiB(root) {
	let kib = 0;
	for (const pid of processTree(root)) {
		try {
			const rollup = fs.readFileSync(`/proc/${pid}/smaps_rollup`, 'utf8');
			kib += Number(/^Pss:\s+(\d+)/m.exec(rollup)?.[1] ?? 0);
		} catch {
			// gone meanwhile
		}
	}
	return kib / 1024;
}

// Chat events as Vek sends them, published by a page that holds the proxy
// token: the proxy relays each to every page, the chat dock's among them.
function chatEvent(n) {
	const viewer = `viewer${n % 50}`;
	return {
		event_type: 'RICH_MESSAGE',
		streamer: { UPID: 'bench;TWITCH', platform: 'TWITCH' },
		timestamp: new Date().toISOString(),
		sender: { id: viewer, platform: 'TWITCH', UPID: `${viewer};TWITCH`, username: viewer, displayname: viewer },
		raw: `message ${n} from the cost benchmark`,
		html: `<span data-rich-type='text'>message ${n} from the cost benchmark</span>`,
	};
}

async function skippedFrames(client, during) {
	const before = await client.call('GetStats');
	await during();
	const after = await client.call('GetStats');
	return {
		skipped: after.renderSkippedFrames - before.renderSkippedFrames,
		total: after.renderTotalFrames - before.renderTotalFrames,
	};
}

async function oneRun(configuration) {
	const setup = prepareHome();
	for (const plugin of configuration.remove)
		fs.rmSync(path.join(setup.obsConfig, 'plugins', plugin), { recursive: true, force: true });
	let session;
	try {
		session = await startObs(setup, { withModule: configuration.module });
		const { lines, times } = session.log;
		const loaded = lines.findIndex((line) => line.includes('[real-obs-probe] frontend event FINISHED_LOADING'));
		const startMs = times[loaded] - session.startedAt;
		const client = await connect(session);
		if (configuration.docks)
			await session.log.waitFor('[vorn-zorva] Event proxy accepted authenticated client', { count: 2 });
		const memory = pssMiB(session.child.pid);
		let publisher = null;
		if (configuration.module)
			publisher = await connectProxy((await callModule(client, 'zorva.getHostBootstrap')).eventProxyUrl);
		let sent = 0;
		const frames = await skippedFrames(client, () => new Promise((resolve) => {
			const started = Date.now();
			const timer = setInterval(() => {
				// Catch up to the rate whatever the timer's jitter.
				const due = Math.floor(((Date.now() - started) / 1000) * rate);
				for (; publisher && sent < due; ++sent)
					publisher.send(JSON.stringify({ upid: 'bench;TWITCH', payload: chatEvent(sent) }));
				if (Date.now() - started >= windowSeconds * 1000) {
					clearInterval(timer);
					resolve();
				}
			}, 10);
		}));
		publisher?.close();
		await quitLikeAUser(session);
		return { startMs, memory, ...frames, sent };
	} finally {
		await cleanUp(session);
	}
}

// The docks' pages come from the sample services.
const services = await startSamples();
const samples = configurations.map(() => []);
try {
	for (let run = 0; run < runs; ++run)
		for (const [index, configuration] of configurations.entries())
			samples[index].push(await oneRun(configuration));
} finally {
	await services.stop();
}

const version = process.env.ZORVA_EXPECTED_OBS_VERSION ?? '';
console.log(`| OBS Studio ${version}, median of ${runs} | start to FINISHED_LOADING | memory (PSS, OBS and its processes) | ` +
	`frames skipped to rendering lag in ${windowSeconds} s | chat events published to the pages |`);
console.log('|---|---|---|---|---|');
for (const [index, configuration] of configurations.entries()) {
	const of = (key) => median(samples[index].map((sample) => sample[key]));
	console.log(`| ${configuration.label} | ${of('startMs').toFixed(0)} ms | ${of('memory').toFixed(0)} MiB | ` +
		`${of('skipped')} of ${of('total')} | ${configuration.module ? of('sent') : '-'} |`);
}
console.log(`runs: ${JSON.stringify(samples)}`);
