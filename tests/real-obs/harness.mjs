// One real OBS Studio run with the module, as a streamer has it: a throwaway
// configuration folder (never the user's), the development flavour of the
// module with the plugin's own browser panel host beside it installed as a
// user plugin with the project's install rules, obs-websocket enabled with a password in
// its own config file, and the sample services the development flavour
// points at. The probe module (real-obs-probe) reports docks and front-end
// events and closes the main window as a user would.
//
// Used by the *.test.mjs files and by `scripts/run --real-obs` (main below).

import { execFileSync, spawn } from 'node:child_process';
import { randomBytes } from 'node:crypto';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

import { OBSWebSocket } from 'obs-websocket-js/json';
import WebSocket from 'ws';

function required(name) {
	const value = process.env[name];
	if (!value)
		throw new Error(`${name} is not set: run through scripts/test-real-obs`);
	return value;
}

// The ports and names this build was configured with (tests/real-obs/CMakeLists.txt).
const configured = JSON.parse(fs.readFileSync(path.join(required('ZORVA_BUILD_DIR'), 'tests/real-obs/real-obs.json'),
	'utf8'));
export const {
	obsWebSocketPort, eventProxyPort, callbackPort, vendorName, requestType, eventType, webAppPort, accountPort,
} = configured;
// The plugin's own panel host in the user plugin folder, beside the module.
export const panelHostFolder = 'vorn-zorva/bin/64bit/vorn-zorva';

// Lines of a child process's output, with waits on what they say.
export class LineLog {
	constructor(...streams) {
		this.lines = [];
		this.times = []; // when each line arrived (ms since the epoch)
		this.waiters = new Set();
		for (const stream of streams) {
			let partial = '';
			stream.setEncoding('utf8');
			stream.on('data', (chunk) => {
				const parts = (partial + chunk).split('\n');
				partial = parts.pop();
				for (const line of parts)
					this.add(line);
			});
		}
	}

	add(line) {
		this.lines.push(line);
		this.times.push(Date.now());
		if (process.env.ZORVA_REAL_OBS_ECHO)
			console.log(line);
		for (const waiter of this.waiters)
			waiter();
	}

	count(pattern) {
		return this.lines.filter((line) => matches(line, pattern)).length;
	}

	find(pattern) {
		return this.lines.find((line) => matches(line, pattern));
	}

	// Resolves once `count` lines match; rejects after the timeout.
	waitFor(pattern, { count = 1, timeoutMs = 60000 } = {}) {
		return new Promise((resolve, reject) => {
			const check = () => {
				const found = this.lines.filter((line) => matches(line, pattern));
				if (found.length < count)
					return;
				done();
				resolve(found[count - 1]);
			};
			const timer = setTimeout(() => {
				done();
				reject(new Error(`no ${count} line(s) matching ${pattern} within ${timeoutMs} ms`));
			}, timeoutMs);
			const done = () => {
				clearTimeout(timer);
				this.waiters.delete(check);
			};
			this.waiters.add(check);
			check();
		});
	}
}

function matches(line, pattern) {
	return typeof pattern === 'string' ? line.includes(pattern) : pattern.test(line);
}

// Resolves when `predicate` holds, polling; rejects after the timeout.
export async function until(predicate, { timeoutMs = 30000, what = 'condition' } = {}) {
	const deadline = Date.now() + timeoutMs;
	for (;;) {
		const value = await predicate();
		if (value)
			return value;
		if (Date.now() > deadline)
			throw new Error(`${what} not reached within ${timeoutMs} ms`);
		await new Promise((resolve) => setTimeout(resolve, 50));
	}
}

export async function startSamples(seedAuthFile) {
	const args = seedAuthFile ? ['--seed-auth', seedAuthFile] : [];
	const program = path.join(required('ZORVA_BUILD_DIR'), 'devhost/zorva-sample-services');
	const child = spawn(program, args, { stdio: ['ignore', 'pipe', 'pipe'] });
	const log = new LineLog(child.stdout, child.stderr);
	const exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve({ code, signal })));
	await Promise.race([
		log.waitFor('sample services ready', { timeoutMs: 20000 }),
		exited.then(({ code }) => {
			throw new Error(`sample services exited (${code}): ${log.lines.join('\n')}`);
		}),
	]);
	return {
		log,
		async stop() {
			child.kill('SIGTERM');
			await exited;
		},
	};
}

// OBS with the module beside the sample services, which first link one
// sample platform account, and a client of its obs-websocket. What started
// is ended again when a later step fails.
export async function startLinkedSession() {
	const setup = prepareHome();
	const samples = await startSamples(setup.authFile);
	let session;
	try {
		session = await startObs(setup);
		return { samples, session, client: await connect(session) };
	} catch (error) {
		await stopLinkedSession({ samples, session });
		throw error;
	}
}

// Ends what startLinkedSession started.
export async function stopLinkedSession({ samples, session }) {
	await cleanUp(session);
	await samples?.stop();
}

function writeFile(file, text) {
	fs.mkdirSync(path.dirname(file), { recursive: true });
	fs.writeFileSync(file, text);
}

// A fresh configuration folder with the plugins installed and obs-websocket
// set up. With `userPlugins: false` the user plugin folder stays empty, for a
// module installed in the system folder, and the probe comes from a folder of
// its own that OBS is told of (OBS_PLUGINS_PATH).
export function prepareHome({ userPlugins = true } = {}) {
	const buildDir = required('ZORVA_BUILD_DIR');
	const home = fs.mkdtempSync(path.join(os.tmpdir(), 'zorva-real-obs-'));
	const obsConfig = path.join(home, 'obs-studio');
	const install = (component, prefix) =>
		execFileSync('cmake', ['--install', buildDir, '--component', component, '--prefix', prefix], { stdio: 'ignore' });
	let extraPlugins = null;
	if (userPlugins) {
		for (const component of ['development', 'real-obs-probe'])
			install(component, path.join(obsConfig, 'plugins'));
	} else {
		// The probe's file alone: a user's root has no cmake.
		extraPlugins = path.join(home, 'extra-plugins');
		const probeDir = path.join(extraPlugins, 'real-obs-probe/bin/64bit');
		fs.mkdirSync(probeDir, { recursive: true });
		fs.copyFileSync(path.join(buildDir, 'tests/real-obs/real-obs-probe.so'), path.join(probeDir, 'real-obs-probe.so'));
	}
	// As after a first run: OBS offers its auto-configuration wizard unless it
	// has run before ("FirstRun" true) and knows its last version.
	writeFile(path.join(obsConfig, 'global.ini'), '[General]\nFirstRun=true\nLastVersion=503447555\n');
	const password = randomBytes(12).toString('hex');
	writeFile(path.join(obsConfig, 'plugin_config/obs-websocket/config.json'), JSON.stringify({
		alerts_enabled: false,
		auth_required: true,
		first_load: false,
		server_enabled: true,
		server_password: password,
		server_port: obsWebSocketPort,
	}));
	// The system browser: records what it was asked to open.
	const openedFile = path.join(home, 'opened-urls.txt');
	const browser = path.join(home, 'bin/xdg-open');
	writeFile(browser, `#!/bin/sh\nprintf '%s\\n' "$1" >> '${openedFile}'\n`);
	fs.chmodSync(browser, 0o755);
	return {
		home,
		obsConfig,
		extraPlugins,
		password,
		browser,
		openedFile,
		moduleConfig: path.join(obsConfig, 'plugin_config', vendorName),
		authFile: path.join(obsConfig, 'plugin_config', vendorName, 'zorva-auth.json'),
	};
}

export function openedUrls(session) {
	return fs.existsSync(session.openedFile)
		? fs.readFileSync(session.openedFile, 'utf8').split('\n').filter(Boolean)
		: [];
}

// Starts OBS in `setup` (from prepareHome) and waits until obs-websocket's
// server and the module's event proxy are up and the front end has loaded
// (without the module installed, only for the first and the last).
export async function startObs(setup, { withModule = true } = {}) {
	const obs = required('ZORVA_OBS_EXECUTABLE');
	const startedAt = Date.now();
	const child = spawn(obs, ['--disable-shutdown-check', '--multi'], {
		cwd: setup.home,
		stdio: ['ignore', 'pipe', 'pipe'],
		env: {
			...process.env,
			XDG_CONFIG_HOME: setup.home,
			PATH: `${path.dirname(setup.browser)}:${process.env.PATH}`,
			BROWSER: setup.browser,
			ZORVA_PROBE_CA_FILE: configured.caFile,
			...(setup.extraPlugins && {
				OBS_PLUGINS_PATH: path.join(setup.extraPlugins, '%module%/bin/64bit'),
				OBS_PLUGINS_DATA_PATH: path.join(setup.extraPlugins, '%module%/data'),
			}),
		},
	});
	const log = new LineLog(child.stdout, child.stderr);
	const exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve({ code, signal, at: Date.now() })))
		.then((result) => {
			if (result.signal && result.signal !== 'SIGKILL') {
				console.log(`OBS died by ${result.signal}; its last lines:\n${log.lines.slice(-40).join('\n')}`);
				result.crash = printBacktrace(setup.home);
			}
			return result;
		});
	const session = { ...setup, child, log, exited, startedAt, clients: [] };
	// An OBS that does not come up is ended, so that the test's process can.
	await Promise.race([
		Promise.all([
			log.waitFor('[obs-websocket] [WebSocketServer::Start] Server started successfully'),
			withModule && log.waitFor(`[vorn-zorva] Event proxy listening on ws://127.0.0.1:${eventProxyPort}`),
			log.waitFor('[real-obs-probe] frontend event FINISHED_LOADING'),
		]),
		exited.then((result) => {
			throw new Error(`OBS exited during start-up (${JSON.stringify(result)})`);
		}),
	]).catch((error) => {
		child.kill('SIGKILL');
		throw error;
	});
	await waitForObsWebSocketReady(session).catch((error) => {
		child.kill('SIGKILL');
		throw error;
	});
	session.readyAfterMs = Date.now() - startedAt;
	return session;
}

// obs-websocket answers every request with 207 until its own handler of
// FINISHED_LOADING has run, which may come after the probe's: its readiness
// is what it answers, asked of a client that then stays the session's first.
const obsWebSocketNotReady = 207;
async function waitForObsWebSocketReady(session) {
	const client = await connect(session);
	await until(async () => {
		try {
			await client.call('GetVersion');
			return true;
		} catch (error) {
			if (error.code === obsWebSocketNotReady)
				return false;
			throw error;
		}
	}, { timeoutMs: 30000, what: 'obs-websocket ready (GetVersion not answered with 207)' });
}

// The stack of an OBS that died by a signal, from its core file (OBS runs in
// the configuration folder, where the kernel's default pattern puts it), so
// that a crash in a test run leaves more than its signal. Returns whose code
// the crashing thread was in, which tells a crash inside obs-websocket alone
// (one was seen once, at quit) from one the module takes part in.
function printBacktrace(home) {
	let crash = 'no core file';
	for (const file of fs.readdirSync(home).filter((name) => /^core(\.\d+)?$/.test(name))) {
		try {
			const crashing = execFileSync('gdb', ['-batch', '-ex', 'bt 40', required('ZORVA_OBS_EXECUTABLE'),
				path.join(home, file)], { encoding: 'utf8', stdio: ['ignore', 'pipe', 'ignore'] });
			const all = execFileSync('gdb', ['-batch', '-ex', 'thread apply all bt 25', required('ZORVA_OBS_EXECUTABLE'),
				path.join(home, file)], { encoding: 'utf8', stdio: ['ignore', 'pipe', 'ignore'] });
			console.log(`the crashing thread:\n${crashing}\nall threads:\n${all}`);
			const inModule = /vorn-zorva/.test(crashing);
			crash = inModule ? 'crashing thread in the module\'s code'
				: /obs-websocket/.test(crashing) ? 'crashing thread in obs-websocket, no frame of the module'
					: 'crashing thread neither in the module nor in obs-websocket';
		} catch (error) {
			console.log(`no backtrace from ${file}: ${error.message}`);
		}
	}
	console.log(`crash: ${crash}`);
	return crash;
}

// An obs-websocket 5 client, identified with the config's password.
// A request waiting when OBS ends fails at once with how OBS ended, instead
// of waiting for an answer that cannot come.
export async function connect(session) {
	const client = new OBSWebSocket();
	await client.connect(`ws://127.0.0.1:${obsWebSocketPort}`, session.password);
	const call = client.call.bind(client);
	const ended = session.exited.then((result) => {
		throw new Error(`OBS ended (${JSON.stringify(result)}) while a request waited`);
	});
	ended.catch(() => {});
	client.call = (...args) => Promise.race([call(...args), ended]);
	session.clients.push(client);
	return client;
}

export async function callModule(client, method, params = {}, id = method) {
	const reply = await client.call('CallVendorRequest', {
		vendorName,
		requestType,
		requestData: { id, method, params },
	});
	return reply.responseData;
}

// What the user does in the browser the module opened for a sign-in: the
// sample account service approves, and its redirect page hands code and state
// to the module's loopback listener. Returns the listener's answer.
export async function approveSampleSignIn(session) {
	const urls = await until(() => openedUrls(session).length && openedUrls(session), {
		what: 'the system browser opened',
	});
	const authorize = new URL(urls[urls.length - 1]);
	if (authorize.port !== String(accountPort))
		throw new Error(`the sign-in opened ${authorize.origin}, not the sample account service`);
	const approve = new URL(`http://127.0.0.1:${accountPort}/login/approve`);
	for (const key of ['redirect_uri', 'state', 'code_challenge'])
		approve.searchParams.set(key, authorize.searchParams.get(key));
	const approved = await fetch(approve, { redirect: 'manual' });
	const redirect = new URL(approved.headers.get('location'));
	return fetch(`http://127.0.0.1:${callbackPort}/callback${redirect.search}`);
}

export async function callProbe(client, requestType, requestData = {}) {
	const reply = await client.call('CallVendorRequest', { vendorName: 'real-obs-probe', requestType, requestData });
	return reply.responseData;
}

// A page's connection to the event proxy, collecting what it is sent.
export function connectProxy(url) {
	return new Promise((resolve, reject) => {
		const socket = new WebSocket(url);
		socket.messages = [];
		socket.on('message', (data) => socket.messages.push(JSON.parse(data.toString())));
		socket.once('open', () => resolve(socket));
		socket.once('error', reject);
	});
}

// Closes the main window as a user does and waits for OBS to end.
export async function quitLikeAUser(session, { timeoutMs = 10000 } = {}) {
	const client = session.clients[0] ?? (await connect(session));
	const askedAt = Date.now();
	await callProbe(client, 'closeMainWindow');
	const timeout = new Promise((resolve) => setTimeout(() => resolve(null), timeoutMs));
	const result = await Promise.race([session.exited, timeout]);
	if (!result) {
		session.child.kill('SIGKILL');
		return { code: null, signal: null, hung: true, afterMs: Date.now() - askedAt };
	}
	return { ...result, hung: false, afterMs: result.at - askedAt };
}

// Ends whatever is left of a session.
export async function cleanUp(session) {
	if (!session)
		return;
	for (const client of session.clients)
		await client.disconnect().catch(() => {});
	if (session.child.exitCode === null && session.child.signalCode === null) {
		session.child.kill('SIGKILL');
		await session.exited;
	}
	if (!process.env.ZORVA_REAL_OBS_KEEP)
		fs.rmSync(session.home, { recursive: true, force: true });
}

// `node harness.mjs [--screenshot FILE]`: OBS with the docks, until it is
// ended; with --screenshot, a picture of the main window once the docks have
// settled, then OBS quits.
async function main() {
	const args = process.argv.slice(2);
	const shotIndex = args.indexOf('--screenshot');
	const screenshot = shotIndex >= 0 ? path.resolve(args[shotIndex + 1]) : null;
	const setup = prepareHome();
	const samples = await startSamples(setup.authFile);
	let session;
	try {
		session = await startObs(setup);
		console.log(`OBS is running with the module (configuration in ${setup.home}); Ctrl-C or closing its window ends it.`);
		if (screenshot) {
			const client = await connect(session);
			// The pages draw once loaded; the chat page shows live sample events.
			await session.log.waitFor('[vorn-zorva] Event proxy accepted authenticated client', { count: 2 });
			await new Promise((resolve) => setTimeout(resolve, 8000));
			const shot = await callProbe(client, 'screenshot', { file: screenshot });
			console.log(shot.saved ? `saved ${screenshot}` : `could not save ${screenshot}`);
			const result = await quitLikeAUser(session);
			process.exitCode = shot.saved && result.code === 0 ? 0 : 1;
		} else {
			const result = await session.exited;
			process.exitCode = result.code ?? 1;
		}
	} finally {
		await cleanUp(session);
		await samples.stop();
	}
}

if (process.argv[1] === fileURLToPath(import.meta.url))
	main().catch((error) => {
		console.error(error?.stack ?? String(error));
		process.exit(1);
	});
