// OBS Studio's start-up with and without the module: from starting the
// process to the front end's FINISHED_LOADING event (as the probe module
// reports it), the median of N runs for each set of plugins.
//
//   node startup-time.mjs [--runs N]      (variables as scripts/bench sets them)

import fs from 'node:fs';
import path from 'node:path';

import { cleanUp, prepareHome, quitLikeAUser, startObs } from '../../tests/real-obs/harness.mjs';

const runsIndex = process.argv.indexOf('--runs');
const runs = runsIndex > 0 ? Number(process.argv[runsIndex + 1]) : 5;

const configurations = [
	{ label: 'OBS alone (obs-websocket, probe)', remove: ['vorn-zorva', 'obs-browser'] },
	{ label: 'with the module, no browser panels', remove: ['obs-browser'] },
	{ label: 'with the module and the WebEngine panels', remove: [] },
];

function median(values) {
	const sorted = [...values].sort((a, b) => a - b);
	const mid = Math.floor(sorted.length / 2);
	return sorted.length % 2 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
}

async function oneStart(configuration) {
	const setup = prepareHome();
	for (const plugin of configuration.remove)
		fs.rmSync(path.join(setup.obsConfig, 'plugins', plugin), { recursive: true, force: true });
	let session;
	try {
		session = await startObs(setup, { withModule: !configuration.remove.includes('vorn-zorva') });
		const { lines, times } = session.log;
		const loaded = lines.findIndex((line) => line.includes('[real-obs-probe] frontend event FINISHED_LOADING'));
		const elapsed = times[loaded] - session.startedAt;
		await quitLikeAUser(session);
		return elapsed;
	} finally {
		await cleanUp(session);
	}
}

const rows = [];
// Interleaved, so that the machine's state weighs on each alike.
const samples = configurations.map(() => []);
for (let run = 0; run < runs; ++run)
	for (const [index, configuration] of configurations.entries())
		samples[index].push(await oneStart(configuration));
for (const [index, configuration] of configurations.entries())
	rows.push(`| ${configuration.label} | ${median(samples[index]).toFixed(0)} ms | ${samples[index].join(', ')} |`);
const base = median(samples[0]);
console.log(`| OBS Studio ${process.env.ZORVA_EXPECTED_OBS_VERSION ?? ''} start to FINISHED_LOADING | median | runs (ms) |`);
console.log('|---|---|---|');
for (const row of rows)
	console.log(row);
console.log(`module's cost: ${(median(samples[1]) - base).toFixed(0)} ms without panels, ` +
	`${(median(samples[2]) - base).toFixed(0)} ms with the four WebEngine docks`);
