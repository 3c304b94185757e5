// The event proxy inside a real OBS Studio, as a server of the relay
// benchmark: starts OBS with the module (no browser panels: nothing but the
// benchmark's clients on the proxy), prints "PORT <n> TOKEN <t> PID <OBS's
// pid>" and quits OBS as a user does once its standard input closes or it is
// asked to stop. Needs the variables scripts/bench sets (see harness.mjs).

import fs from 'node:fs';
import path from 'node:path';

import {
	callModule, cleanUp, connect, eventProxyPort, panelHostFolder, prepareHome, quitLikeAUser, startObs,
} from '../../tests/real-obs/harness.mjs';

const setup = prepareHome();
fs.rmSync(path.join(setup.obsConfig, 'plugins', panelHostFolder), { recursive: true, force: true });
const session = await startObs(setup);
const client = await connect(session);
const { sessionToken } = await callModule(client, 'zorva.getHostBootstrap');
process.stdout.write(`PORT ${eventProxyPort} TOKEN ${sessionToken} PID ${session.child.pid}\n`);

let stopping = false;
async function stop() {
	if (stopping)
		return;
	stopping = true;
	await quitLikeAUser(session).catch(() => {});
	await cleanUp(session);
	process.exit(0);
}
process.stdin.on('end', stop);
process.stdin.resume();
process.on('SIGTERM', stop);
