// Every host method through the real obs-websocket, as a page calls it: request
// data sent directly and wrapped in "message", the router's errors, and what
// obs-websocket's conversion to OBS data objects does to request data.

import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';

import {
	callModule, openedUrls, requestType, startLinkedSession, stopLinkedSession, until, vendorName,
} from './harness.mjs';

let samples, session, client;
before(async () => ({ samples, session, client } = await startLinkedSession()));
after(() => stopLinkedSession({ samples, session }));

// The vendor's response data for request data as given.
async function send(requestData) {
	const reply = await client.call('CallVendorRequest', { vendorName, requestType, requestData });
	return reply.responseData;
}

const vendorError = (error, errorCode) => ({ __vendorError: true, error, errorCode });
const requiredIds = (list) => list.requiredAccounts.map((account) => account.id).sort();

test('read-only methods answer alike to direct and wrapped request data', async () => {
	const answers = {};
	for (const method of ['zorva.status', 'zorva.getHostBootstrap', 'accounts.list', 'getSessionJson', 'notify',
		'listDisplays', 'listWindows', 'listCameras']) {
		const request = { id: method, method, params: {} };
		answers[method] = await send(request);
		assert.deepEqual(await send({ message: request }), answers[method], method);
	}
	assert.equal(answers['zorva.status'].account.authenticated, false);
	assert.equal(answers['zorva.status'].hostBootstrap.host, 'obs');
	assert.equal(answers['zorva.getHostBootstrap'].host, 'obs');
	assert.deepEqual(answers['accounts.list'].accounts.map((account) => account.platform), ['TWITCH']);
	// Objects answer as they are; the list methods' arrays cannot be response data.
	for (const method of ['getSessionJson', 'notify', 'listDisplays', 'listWindows', 'listCameras'])
		assert.deepEqual(answers[method], {}, method);
});

test('methods with fixed errors, and the router\'s own', async () => {
	const notYet = {
		takeScreenshot: vendorError('Screenshots are not available from OBS yet.', 'NOT_IMPLEMENTED'),
		applySessionOps: vendorError('applySessionOps is handled by the OBS shim.', 'SHIM_REQUIRED'),
		evalBrowserLayerJs: vendorError('Browser-layer JS evaluation is not enabled in OBS yet.', 'NOT_IMPLEMENTED'),
		getBrowserLayerConsoleLogs: vendorError('Browser-layer console logs are not enabled in OBS yet.', 'NOT_IMPLEMENTED'),
	};
	for (const [method, expected] of Object.entries(notYet))
		assert.deepEqual(await callModule(client, method, { code: 'x' }), expected, method);
	assert.deepEqual(await callModule(client, 'vek.logout', { upid: '   ' }), vendorError('Missing upid.', 'MISSING_UPID'));
	assert.deepEqual(await callModule(client, 'no.such.method', {}, '7'),
		vendorError('Unknown method: no.such.method', 'METHOD_NOT_FOUND'));
	// Without an id the handler runs and nothing is answered.
	assert.deepEqual(await send({ method: 'zorva.status' }), {});
	assert.deepEqual(await send({}), {});
	assert.deepEqual(await callModule(client, 'accounts.handleRedirect'), { handled: false });
});

test('request data keeps only objects in arrays: "platforms" of names arrives empty, "platform" arrives', async () => {
	assert.deepEqual(requiredIds(await callModule(client, 'accounts.require', { platforms: ['kick', 'youtube'] })), []);
	// A null member is dropped on the way; the platform beside it arrives.
	const required = await callModule(client, 'accounts.require', { platform: ' kick ', platforms: null });
	assert.deepEqual(requiredIds(required), ['KICK']);
	assert.deepEqual(requiredIds(await callModule(client, 'accounts.require', { platform: 'youtube' })), ['KICK', 'YOUTUBE']);
});

test('events, sign-in starts and sign-outs', async () => {
	const simulated = await callModule(client, 'simulateEvent', { type: 'follow', username: 'viewer' });
	assert.equal(simulated.__vendorError, undefined, JSON.stringify(simulated));
	const refused = await callModule(client, 'simulateEvent', { type: 'no-such-type' });
	assert.equal(refused.__vendorError, true);
	assert.equal(typeof refused.errorCode, 'string');

	const before = openedUrls(session).length;
	const signIn = await callModule(client, 'authenticate');
	assert.equal(signIn.opened, true, JSON.stringify(signIn));
	assert.equal(signIn.callbackUrl, 'http://localhost:49231/callback');
	// A platform of blanks only starts the account sign-in too.
	const again = await callModule(client, 'accounts.beginLogin', { platform: '  ' });
	assert.deepEqual(Object.keys(again).sort(), Object.keys(signIn).sort());
	const link = await callModule(client, 'vek.beginLogin', { platform: 'kick' });
	assert.equal(link.opened, true, JSON.stringify(link));
	// The browser runs apart from OBS: its record of the third address may
	// come after the answer.
	await until(() => openedUrls(session).length === before + 3, { what: 'three opened addresses' });

	assert.deepEqual(await callModule(client, 'accounts.refresh'),
		vendorError('No refresh token is available.', 'NO_REFRESH_TOKEN'));
	const logout = await callModule(client, 'accounts.logout');
	assert.deepEqual(await callModule(client, 'zorva.logout'), logout);
	assert.equal(typeof logout.logoutUrl, 'string');

	const [linked] = (await callModule(client, 'accounts.list')).accounts;
	const status = await callModule(client, 'vek.logout', { upid: ` ${linked.id} ` });
	assert.equal(status.integrations[linked.id], undefined, JSON.stringify(status.integrations));
	const { accounts } = await callModule(client, 'accounts.list');
	assert.deepEqual(accounts.map((account) => [account.id, account.state]), [['KICK', 'logging_in']]);
});
