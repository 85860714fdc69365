// Decoding a full 131072-sample ReadHistory reply with orvexa-client, against a bare
// DataView loop that reads the same bytes into the same two typed arrays. Two library
// paths: the reply decoder alone, and a whole request through OrvexaClient (a stand-in
// WebSocket hands the reply over as a message). Prints median times and their ratios.
// Usage: node bench/js/history_decode_bench.mjs [rounds]
import { OrvexaClient, REQUESTS, ReplyReader, MAX_HISTORY_SAMPLES } from '../../clients/js/src/index.js';

const rounds = Number(process.argv[2] ?? 300);
const n = MAX_HISTORY_SAMPLES;
const reply = new ArrayBuffer(4 + 8 * n);
{
  const v = new DataView(reply);
  v.setUint32(0, n);
  for (let i = 0; i < n; i++) {
    v.setUint32(4 + 8 * i, 1700000000 + i);
    v.setFloat32(8 + 8 * i, Math.sin(i / 100));
  }
}

function bare(buffer) {
  const v = new DataView(buffer);
  const count = v.getUint32(0);
  const times = new Uint32Array(count);
  const values = new Float32Array(count);
  for (let i = 0, o = 4; i < count; i++, o += 8) {
    times[i] = v.getUint32(o);
    values[i] = v.getFloat32(o + 4);
  }
  return values;
}

function decoder(buffer) {
  const r = new ReplyReader(buffer);
  const h = REQUESTS.readHistory.decode(r);
  r.end();
  return h.values;
}

// A WebSocket stand-in that answers every request with the reply, as a message event.
class LoopbackSocket {
  readyState = 1;
  listeners = { message: [], close: [], error: [] };
  addEventListener(type, f) {
    this.listeners[type]?.push(f);
  }
  send() {
    queueMicrotask(() => this.listeners.message.forEach((f) => f({ data: reply })));
  }
  close() {}
}
const client = new OrvexaClient(new LoopbackSocket(), 'loopback', {}, 30000);
const viaClient = async () => (await client.readHistory(1, 3600)).values;

function median(xs) {
  const s = [...xs].sort((a, b) => a - b);
  return s[Math.floor(s.length / 2)];
}

let sink = 0;
const times = { bare: [], decoder: [], client: [] };
for (let warm = 0; warm < 30; warm++) sink += bare(reply)[1] + decoder(reply)[1] + (await viaClient())[1];
for (let round = 0; round < rounds; round++) {
  let t = performance.now();
  sink += bare(reply)[round % n];
  times.bare.push(performance.now() - t);
  t = performance.now();
  sink += decoder(reply)[round % n];
  times.decoder.push(performance.now() - t);
  t = performance.now();
  sink += (await viaClient())[round % n];
  times.client.push(performance.now() - t);
}
const b = median(times.bare);
const d = median(times.decoder);
const c = median(times.client);
console.log(`history reply of ${n} samples (${reply.byteLength} bytes), ${rounds} rounds, median per decode:`);
console.log(`  bare DataView loop     ${b.toFixed(3)} ms`);
console.log(`  reply decoder          ${d.toFixed(3)} ms  ratio ${(d / b).toFixed(2)}`);
console.log(`  OrvexaClient request   ${c.toFixed(3)} ms  ratio ${(c / b).toFixed(2)}  (target: at most 2)`);
if (Number.isNaN(sink)) console.log('');
