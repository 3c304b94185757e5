// A sign-in to the Vorn account inside a real OBS: the module opens the
// system browser, the user approves at the (sample) account service, whose
// redirect page hands the code to the module's loopback listener.

import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';

import {
	approveSampleSignIn, callModule, cleanUp, connect, prepareHome, quitLikeAUser, startObs, startSamples, until,
} from './harness.mjs';

let samples;
let session;

before(async () => {
	const setup = prepareHome();
	samples = await startSamples(); // no linked account: a plain first run
	session = await startObs(setup);
});

after(async () => {
	await cleanUp(session);
	await samples?.stop();
});

test('a sign-in through the sample account service completes inside OBS', async () => {
	const client = await connect(session);
	assert.equal((await callModule(client, 'zorva.status')).account.authenticated, false);
	const start = await callModule(client, 'authenticate');
	assert.equal(start.opened, true, JSON.stringify(start));

	const callback = await approveSampleSignIn(session);
	assert.equal(callback.status, 200);
	assert.match(await callback.text(), /Login info sent/);

	const status = await until(async () => {
		const current = await callModule(client, 'zorva.status');
		return current.account.authenticated && current;
	}, { what: 'signed in' });
	assert.equal(status.account.email, 'streamer@vorn.sample');
	assert.ok(status.hostBootstrap.accessToken.length > 0);

	const result = await quitLikeAUser(session);
	assert.deepEqual([result.hung, result.signal, result.code], [false, null, 0]);
});
