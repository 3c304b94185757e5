// OBS 32's plugin manager: it lists the module with the name and version of
// its manifest, and a user who disables the module there gets an OBS that
// starts without it and works otherwise. OBS 30 has no plugin manager.

import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';

import { callProbe, cleanUp, connect, prepareHome, quitLikeAUser, startObs, until } from './harness.mjs';

const obsMajor = Number((process.env.ZORVA_EXPECTED_OBS_VERSION ?? '32').split('.')[0]);
const skip = obsMajor < 32 && `OBS ${process.env.ZORVA_EXPECTED_OBS_VERSION} has no plugin manager`;
const modulesFile = (setup) => path.join(setup.obsConfig, 'plugin_manager/modules.json');
const projectVersion = JSON.parse(fs.readFileSync(path.join(process.env.ZORVA_BUILD_DIR ?? '', 'generated/manifest.json'),
	'utf8')).version;

async function run(setup, options, check) {
	let session;
	try {
		session = await startObs(setup, options);
		const client = await connect(session);
		await check(session, client);
		const result = await quitLikeAUser(session);
		assert.deepEqual([result.hung, result.signal, result.code], [false, null, 0]);
	} finally {
		await cleanUp(session);
	}
}

test('the plugin manager lists the module by its name and version, and a disabled module stays out', { skip }, async () => {
	const setup = prepareHome();
	process.env.ZORVA_REAL_OBS_KEEP = '1'; // the same configuration runs twice
	await run(setup, {}, async () => {
		const modules = await until(() => fs.existsSync(modulesFile(setup)) &&
			JSON.parse(fs.readFileSync(modulesFile(setup), 'utf8')), { what: 'plugin_manager/modules.json' });
		const listed = modules.find((module) => module.module_name === 'vorn-zorva');
		assert.deepEqual([listed?.display_name, listed?.version, listed?.enabled], ['Vorn Zorva', projectVersion, true]);
	});
	// What the user's click in the plugin manager leaves in the list.
	const modules = JSON.parse(fs.readFileSync(modulesFile(setup), 'utf8'));
	fs.writeFileSync(modulesFile(setup), JSON.stringify(modules.map((module) =>
		module.module_name === 'vorn-zorva' ? { ...module, enabled: false } : module)));
	delete process.env.ZORVA_REAL_OBS_KEEP;

	await run(setup, { withModule: false }, async (session, client) => {
		assert.equal(session.log.count('[vorn-zorva]'), 0, session.log.find('[vorn-zorva]'));
		const { docks } = await callProbe(client, 'docks');
		assert.deepEqual(docks.filter((dock) => dock.id.startsWith('vorn-zorva')), []);
		assert.ok(docks.some((dock) => dock.id === 'scenesDock'), 'OBS\'s own docks are there');
		const { obsVersion } = await client.call('GetVersion');
		assert.equal(obsVersion, process.env.ZORVA_EXPECTED_OBS_VERSION ?? obsVersion);
	});
	fs.rmSync(setup.home, { recursive: true, force: true });
});
