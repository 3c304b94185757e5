// The plugin as a user gets it: its Debian package, built with the sample
// services' endpoints and installed with apt-get into a root that holds only
// Debian's obs-studio, a display server and node (scripts/obs-root
// user-test). Nothing goes on OBS_PLUGINS_PATH but the probe. The sample
// services run beside it, in the build root, on the same loopback network.

import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import { test } from 'node:test';

import {
	approveSampleSignIn, callModule, callProbe, cleanUp, connect, prepareHome, quitLikeAUser, startObs, until,
	vendorName, webAppPort,
} from './harness.mjs';

const plugins = '/usr/lib/x86_64-linux-gnu/obs-plugins';
const moduleFile = `${plugins}/vorn-zorva.so`;
const panelHostFile = `${plugins}/vorn-zorva/vorn-zorva-panels.so`;
const dockTitles = ['Vorn - Accounts', 'Vorn - Chat', 'Vorn - Stream Manager', 'Vorn - Zorva'];
const starts = 5;
// Where the first start leaves a picture of OBS with the docks.
const screenshotFile = '/tmp/vorn-zorva/docks.png';

const run = (command, ...args) => execFileSync(command, args, { encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] });
const packageFiles = () => run('dpkg-query', '-L', 'obs-vorn-zorva').split('\n')
	.filter((file) => file && !fs.statSync(file).isDirectory());

// The sample web application answers: the services came up in the build root.
async function samplesUp() {
	await until(async () => (await fetch(`http://127.0.0.1:${webAppPort}/`).catch(() => null))?.ok, {
		what: 'the sample services answering', timeoutMs: 60000,
	});
}

// A click on the Zorva dock's "Sign in" button, once the page shows that it
// is signed out (it then has its obs-websocket connection), and once a page.
const clickSignIn = `(() => {
	const account = document.getElementById("account");
	if (window.__signInClicked || account?.textContent !== "Not signed in") return;
	window.__signInClicked = true;
	document.getElementById("login").click();
})();`;

async function signInFromTheZorvaDock(session, client) {
	await until(async () => {
		const { ran } = await callProbe(client, 'runInDock', { id: 'vorn-zorva-dock', script: clickSignIn });
		assert.ok(ran, 'the Zorva dock has a browser panel');
		return fs.existsSync(session.openedFile);
	}, { what: 'a sign-in started from the Zorva dock', timeoutMs: 60000 });
	const callback = await approveSampleSignIn(session);
	assert.equal(callback.status, 200);
	const status = await until(async () => {
		const current = await callModule(client, 'zorva.status');
		return current.account.authenticated && current;
	}, { what: 'signed in at the sample account service' });
	assert.equal(status.account.email, 'streamer@vorn.sample');
}

// One start of OBS with a fresh configuration.
async function startAndQuit(index) {
	const setup = prepareHome({ userPlugins: false });
	let session;
	try {
		session = await startObs(setup);
		const { log } = session;
		const maps = fs.readFileSync(`/proc/${session.child.pid}/maps`, 'utf8');
		assert.ok(maps.includes(moduleFile), 'the module from the system folder');
		assert.ok(maps.includes(panelHostFile), 'its own panel host from beside it');
		assert.equal(log.count('[vorn-zorva] Docks use the plugin\'s own browser panel host'), 1);
		assert.equal(log.count('vorn-zorva-panels'), 0, 'OBS never looks at the panel host as a module');

		const client = await connect(session);
		const { docks } = await callProbe(client, 'docks');
		const ours = docks.filter((dock) => dock.id.startsWith(vendorName));
		assert.deepEqual(ours.map((dock) => dock.title).sort(), dockTitles);
		for (const dock of ours)
			assert.equal(dock.hasContent, true, dock.id);
		// The chat and stream-manager pages hold the proxy token from their
		// addresses; the main and accounts pages reach obs-websocket.
		await log.waitFor('[vorn-zorva] Event proxy accepted authenticated client', { count: 2 });
		await log.waitFor('[obs-websocket] [WebSocketServer::onOpen] New WebSocket client', { count: 3 });
		if (index === 0) {
			const pageClient = '[obs-websocket] [WebSocketServer::onOpen] New WebSocket client';
			const pagesBefore = log.count(pageClient);
			await signInFromTheZorvaDock(session, client);
			// What the user sees, for the README: the main window with the
			// docks, signed in, once the accounts dock, which comes to the
			// front after a sign-in, has loaded its page again.
			await log.waitFor(pageClient, { count: pagesBefore + 1, timeoutMs: 10000 }).catch(() => {});
			// Pages paint on their own time; the picture checks nothing.
			await new Promise((resolve) => setTimeout(resolve, 3000));
			await callProbe(client, 'screenshot', { file: screenshotFile });
		}

		const result = await quitLikeAUser(session);
		assert.deepEqual([result.hung, result.signal, result.code], [false, null, 0], `start ${index + 1}`);
		assert.equal(log.count('EGL_BAD_ACCESS'), 0);
		assert.equal(log.count('Failed to make context current'), 0);
	} finally {
		await cleanUp(session);
	}
}

test('installed with apt-get: the module and its panel host in the system folder', () => {
	const files = packageFiles();
	assert.ok(files.includes(moduleFile) && files.includes(panelHostFile), files.join(' '));
});

test(`${starts} starts in a row: four docks, their pages on the proxy with its token, a sign-in, status 0`, async () => {
	await samplesUp();
	for (let index = 0; index < starts; ++index)
		await startAndQuit(index);
});

test('apt-get remove leaves none of its files', () => {
	const files = packageFiles();
	run('apt-get', 'remove', '-y', 'obs-vorn-zorva');
	assert.deepEqual(files.filter((file) => fs.existsSync(file)), []);
});
