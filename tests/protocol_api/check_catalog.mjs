// Compares the JavaScript client's request table (clients/js/src/requests.js) with the
// server's catalog printed as JSON: every request by name and code, both ways, and the
// numbers of the opening exchange and the burst slots. Exits 1 naming each difference.
// Usage: node check_catalog.mjs <catalog.json> <requests.js>
import { readFileSync } from 'node:fs';
import { pathToFileURL } from 'node:url';

const [catalogPath, requestsPath] = process.argv.slice(2);
const catalog = JSON.parse(readFileSync(catalogPath, 'utf8'));
const js = await import(pathToFileURL(requestsPath).href);

const differences = [];
function same(what, ours, theirs) {
  if (ours !== theirs) differences.push(`${what}: client ${ours}, server ${theirs}`);
}

// The client's methods are the request names with a small first letter; BatchReplies is
// not a method but a constant of its own.
const clientCodes = new Map(
  Object.entries(js.REQUESTS).map(([name, r]) => [name[0].toUpperCase() + name.slice(1), r.code]),
);
clientCodes.set('BatchReplies', js.BATCH_REPLIES);
const serverCodes = new Map(catalog.requests.map((r) => [r.name, r.code]));
for (const [name, code] of serverCodes) same(`code of ${name}`, clientCodes.get(name), code);
for (const name of clientCodes.keys())
  if (!serverCodes.has(name)) differences.push(`${name}: the server has no such request`);

same('protocol version', js.PROTOCOL_VERSION, catalog.version);
same('first burst slot', js.FIRST_BURST_SLOT, catalog.firstBurstSlot);
same('burst slot count', js.BURST_SLOT_COUNT, catalog.burstSlotCount);
for (const [name, value] of Object.entries(catalog.helloAnswers))
  same(`hello answer ${name}`, js.HelloAnswer[name], value);

for (const d of differences) console.error(d);
process.exit(differences.length === 0 ? 0 : 1);
