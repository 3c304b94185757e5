// The plugin's Debian package, as a user installs it: apt-get install of the
// .deb that scripts/package built in this root, Debian's OBS with a fresh
// configuration and nothing in the user plugin folder, and apt-get remove.

import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import { after, test } from 'node:test';

import { callModule, callProbe, cleanUp, connect, prepareHome, quitLikeAUser, startObs } from './harness.mjs';

const packageDir = '/build/package';
const debs = fs.existsSync(packageDir) ? fs.readdirSync(packageDir).filter((file) => /^obs-vorn-zorva_.*\.deb$/.test(file)) : [];
const skip = debs.length !== 1 && 'no package built in this root (scripts/package)';
const run = (command, ...args) => execFileSync(command, args, { encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] });
const installed = () => {
	try {
		return run('dpkg-query', '-W', '-f=${Status}', 'obs-vorn-zorva').includes('ok installed');
	} catch {
		return false;
	}
};

// The root serves the other tests with the module in the user plugin folder.
after(() => {
	if (installed())
		run('apt-get', 'purge', '-y', 'obs-vorn-zorva');
});

test('the package installs into the system folder, OBS loads it from there, and removing it leaves nothing', { skip }, async () => {
	const deb = `${packageDir}/${debs[0]}`;
	const files = run('dpkg-deb', '-c', deb).split('\n').map((line) => line.split(/\s+/)[5]).filter((file) => file && !file.endsWith('/'))
			.map((file) => file.replace(/^\./, ''));
	const module = '/usr/lib/x86_64-linux-gnu/obs-plugins/vorn-zorva.so';
	const panelHost = '/usr/lib/x86_64-linux-gnu/obs-plugins/vorn-zorva/vorn-zorva-panels.so';
	assert.ok(files.includes(module) && files.includes(panelHost), files.join(' '));
	run('apt-get', 'install', '-y', '--no-install-recommends', deb);
	assert.ok(installed());

	const setup = prepareHome({ userPlugins: false });
	let session;
	try {
		session = await startObs(setup);
		const maps = fs.readFileSync(`/proc/${session.child.pid}/maps`, 'utf8');
		assert.ok(maps.includes(module), 'loaded from the system folder');
		// Debian's OBS has no obs-browser: the docks are the plugin's own panels.
		assert.ok(maps.includes(panelHost), 'the panel host loaded from beside the module');
		assert.equal(session.log.count('[vorn-zorva] Docks use the plugin\'s own browser panel host'), 1);
		// OBS looked at the module file alone, never at the panel host's.
		assert.equal(session.log.count('vorn-zorva-panels'), 0);
		assert.deepEqual(fs.readdirSync(setup.obsConfig).filter((entry) => entry === 'plugins'), []);
		const client = await connect(session);
		assert.equal((await callModule(client, 'zorva.getHostBootstrap')).host, 'obs');
		const { docks } = await callProbe(client, 'docks');
		assert.deepEqual(docks.filter((dock) => dock.id.startsWith('vorn-zorva')).map((dock) => dock.title).sort(),
			['Vorn - Accounts', 'Vorn - Chat', 'Vorn - Stream Manager', 'Vorn - Zorva']);
		const result = await quitLikeAUser(session);
		assert.deepEqual([result.hung, result.signal, result.code], [false, null, 0]);
	} finally {
		await cleanUp(session);
	}

	run('apt-get', 'remove', '-y', 'obs-vorn-zorva');
	assert.deepEqual(files.filter((file) => fs.existsSync(file)), []);
});
