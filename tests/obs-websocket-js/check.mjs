// A real obs-websocket client against the stand-in's endpoint: connects with
// the password, calls the module through CallVendorRequest and waits for the
// status event the module publishes after a refresh.
//
// Usage: node check.mjs <ws://127.0.0.1:PORT> <password> <vendor name> <request type> <event type>
// Exit code 0 when everything arrived as expected, 1 with a message otherwise.

import { OBSWebSocket } from 'obs-websocket-js/json';

const [url, password, vendorName, requestType, eventType] = process.argv.slice(2);
const eventTimeoutMs = 10000;

function fail(message) {
	console.error(`check.mjs: ${message}`);
	process.exit(1);
}

function callModule(obs, id, method) {
	return obs.call('CallVendorRequest', {
		vendorName,
		requestType,
		requestData: { id, method },
	});
}

// Resolves with the first VendorEvent carrying the module's status; rejects
// after the timeout.
function nextStatusEvent(obs) {
	return new Promise((resolve, reject) => {
		const timer = setTimeout(() => {
			obs.off('VendorEvent', onEvent);
			reject(new Error(`no zorva.statusChanged VendorEvent within ${eventTimeoutMs} ms`));
		}, eventTimeoutMs);
		function onEvent(event) {
			if (event.vendorName !== vendorName || event.eventType !== eventType ||
			    event.eventData?.method !== 'zorva.statusChanged')
				return;
			clearTimeout(timer);
			obs.off('VendorEvent', onEvent);
			resolve(event);
		}
		obs.on('VendorEvent', onEvent);
	});
}

async function main() {
	if (!url || password === undefined)
		fail('usage: node check.mjs <url> <password>');
	const obs = new OBSWebSocket();
	const identified = await obs.connect(url, password);
	if (identified.negotiatedRpcVersion !== 1)
		fail(`negotiated RPC version ${identified.negotiatedRpcVersion}, expected 1`);

	const status = await callModule(obs, '1', 'zorva.status');
	if (status.vendorName !== vendorName || status.requestType !== requestType)
		fail(`unexpected vendor response envelope: ${JSON.stringify(status)}`);
	if (!status.responseData?.hostBootstrap)
		fail(`zorva.status has no hostBootstrap: ${JSON.stringify(status.responseData)}`);

	// Listen before asking, so that an event sent right away is not missed.
	const event = nextStatusEvent(obs);
	await callModule(obs, '2', 'zorva.refreshHostBootstrap');
	const received = await event;
	if (!received.eventData.params?.hostBootstrap)
		fail(`status event without hostBootstrap: ${JSON.stringify(received.eventData)}`);

	await obs.disconnect();
	console.log('check.mjs: obs-websocket-js called the module and received its status event');
}

main().catch((error) => fail(error?.stack ?? String(error)));
