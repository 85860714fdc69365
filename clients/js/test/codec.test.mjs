// The library against hand-written byte layouts: a scripted server on a loopback socket
// answers the upgrade, hands each request frame to the test and sends the reply frames
// the test builds, so fragmented replies, batched replies and broken replies are exact.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import net from 'node:net';
import crypto from 'node:crypto';
import WebSocket from 'ws';
import { OrvexaClient, FastFlags, windowLimit } from '../src/index.js';

// A WebSocket server of one connection whose every step the test drives.
async function scriptedServer() {
  const frames = [];
  const waiters = [];
  let socket;
  let pending = Buffer.alloc(0);
  let connected;
  const connection = new Promise((resolve) => (connected = resolve));
  const server = net.createServer((s) => {
    socket = s;
    let upgraded = false;
    s.on('data', (chunk) => {
      pending = Buffer.concat([pending, chunk]);
      if (!upgraded) {
        const end = pending.indexOf('\r\n\r\n');
        if (end < 0) return;
        const key = /Sec-WebSocket-Key: *(\S+)/i.exec(pending.subarray(0, end).toString())[1];
        const accept = crypto.createHash('sha1').update(key + '258EAFA5-E914-47DA-95CA-C5AB0DC85B11').digest('base64');
        s.write(`HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Accept: ${accept}\r\n\r\n`);
        pending = pending.subarray(end + 4);
        upgraded = true;
        connected();
      }
      // Client frames: FIN, opcode, masked, 7- or 16-bit length.
      while (pending.length >= 6) {
        let length = pending[1] & 0x7f;
        let at = 2;
        if (length === 126) {
          length = pending.readUInt16BE(2);
          at = 4;
        }
        if (pending.length < at + 4 + length) break;
        const mask = pending.subarray(at, at + 4);
        const payload = Buffer.from(pending.subarray(at + 4, at + 4 + length)).map((b, i) => b ^ mask[i % 4]);
        const opcode = pending[0] & 0x0f;
        pending = pending.subarray(at + 4 + length);
        if (opcode !== 2) continue;
        frames.push(payload);
        waiters.shift()?.();
      }
    });
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return {
    url: `ws://127.0.0.1:${server.address().port}/ws`,
    connection,
    async request() {
      while (frames.length === 0) await new Promise((resolve) => waiters.push(resolve));
      return [...frames.shift()];
    },
    frame(payload, { opcode = 2, fin = true } = {}) {
      const bytes = Buffer.from(payload);
      const header = bytes.length < 126 ? Buffer.from([opcode | (fin ? 0x80 : 0), bytes.length]) : Buffer.from([opcode | (fin ? 0x80 : 0), 126, bytes.length >> 8, bytes.length & 0xff]);
      socket.write(Buffer.concat([header, bytes]));
    },
    drop() {
      socket.destroy();
    },
    close() {
      socket?.destroy();
      server.close();
    },
  };
}

const u16 = (v) => [v >> 8, v & 0xff];
const u32 = (v) => [(v >>> 24) & 0xff, (v >>> 16) & 0xff, (v >>> 8) & 0xff, v & 0xff];
const f32 = (v) => {
  const b = Buffer.alloc(4);
  b.writeFloatBE(v);
  return [...b];
};
const str = (s) => [...u16(Buffer.byteLength(s)), ...Buffer.from(s)];

async function connected(server, options = {}) {
  const client = OrvexaClient.connect(server.url, { WebSocket, ...options });
  const hello = await server.request();
  server.frame([0]);
  return { client: await client, hello };
}

test('requests and replies byte for byte, fragmented and batched', async () => {
  const server = await scriptedServer();
  try {
    const { client, hello } = await connected(server, { kind: 'observer', credential: 'lab' });
    assert.deepEqual(hello, [...u16(100), 3, ...str('lab')]);

    // ListChannels: count, then flags, ID and description per channel.
    let reply = client.listChannels();
    assert.deepEqual(await server.request(), [2]);
    server.frame([...u32(2), 1, ...str('Tank_Level'), ...str('Level in cm'), 3, ...str('Tank_Valve'), ...str('')]);
    assert.deepEqual(await reply, [
      { number: 1, id: 'Tank_Level', description: 'Level in cm', readable: true, writable: false },
      { number: 2, id: 'Tank_Valve', description: '', readable: true, writable: true },
    ]);

    // A history reply split over three frames: binary without FIN, continuation, last continuation.
    reply = client.readHistory(1, 3600, 2, windowLimit(86400, 27));
    assert.deepEqual(await server.request(), [8, ...u16(1), ...u32(3600), ...u16(2), ...u32((27 << 24) | 86400)]);
    const history = [...u32(3), ...u32(1000), ...f32(1.5), ...u32(1001), ...f32(-0.25), ...u32(1002), ...f32(2)];
    server.frame(history.slice(0, 6), { fin: false });
    server.frame(history.slice(6, 17), { opcode: 0, fin: false });
    server.frame(history.slice(17), { opcode: 0 });
    const h = await reply;
    assert.deepEqual([h.count, [...h.times], [...h.values]], [3, [1000, 1001, 1002], [1.5, -0.25, 2]]);

    // A batch goes out as one frame behind BatchReplies; its replies come in one frame,
    // a reply-less WriteValue among them.
    reply = client.batch((b) => {
      b.readValue(1);
      b.writeValue(2, 0.5);
      b.controlStatus();
    });
    assert.deepEqual(await server.request(), [10, 3, 5, ...u16(1), 6, ...u16(2), ...f32(0.5), 7]);
    server.frame([...f32(3.25), ...u32(1700000000), ...u32(1), ...u32(0xffffffff)]);
    assert.deepEqual(await reply, [{ value: 3.25, time: 1700000000 }, undefined, { state: 1, seconds: null }]);

    // Fast samples with times: newest first and the newest sequence behind them.
    reply = client.readFastSamples(1, FastFlags.since | FastFlags.withTime, 41, 0);
    assert.deepEqual(await server.request(), [12, ...u16(1), 3, ...u32(41), ...u16(0)]);
    server.frame([...u32(2), ...u32(5002), ...f32(1), ...u32(5001), ...f32(2), ...u32(42)]);
    const fast = await reply;
    assert.deepEqual([[...fast.times], [...fast.values], fast.newest], [[5002, 5001], [1, 2], 42]);

    // Experiments: refusals come back as null, a slot outside the experiment as stored null.
    reply = client.startRecording({ channels: [1, 2], ownerKey: 5, capacity: 100, ring: true });
    assert.deepEqual(await server.request(), [13, ...u32(5), ...u32(0), ...u32(100), ...u32(0), 1, ...u16(2), ...u16(1), ...u16(2)]);
    server.frame(u32(0xffffffff));
    assert.equal(await reply, null);
    reply = client.readExperiment(7, [{ channel: 1, first: 0, count: 2 }, { channel: 1001 }]);
    assert.deepEqual(await server.request(), [15, ...u32(7), ...u32(2), ...u16(1), ...u32(0), ...u32(2), ...u16(1001), ...u32(0), ...u32(0xffffffff)]);
    server.frame([...u32(2), ...u16(1), ...u32(9), ...u32(1), ...u32(0), ...u32(100), ...f32(0.5), ...u16(1001), ...u32(0xffffffff), ...u32(0)]);
    const [one, burst] = await reply;
    assert.deepEqual([one.stored, [...one.sequences], [...one.times], [...one.values]], [9, [0], [100], [0.5]]);
    assert.equal(burst.stored, null);
    reply = client.listExperiments(5, 1, 0);
    assert.deepEqual(await server.request(), [16, ...u32(5), ...u32(1), ...u32(0)]);
    server.frame([...u32(1), ...u32(7), 1, ...u32(100), ...u32(200), 10, 1, 2, 3]);
    assert.deepEqual(await reply, [{ id: 7, recording: true, startTime: 100, stopTime: 200, address: '10.1.2.3' }]);
    reply = client.listAllExperiments(1, 0);
    assert.deepEqual(await server.request(), [64, ...u32(1), ...u32(0)]);
    server.frame([...u32(1), ...u32(7), 0, ...u32(100), ...u32(200), 10, 1, 2, 3, ...u32(5), 1]);
    assert.deepEqual(await reply, [{ id: 7, recording: false, startTime: 100, stopTime: 200, address: '10.1.2.3', ownerKey: 5, burst: true }]);
    reply = client.runBurst('sweep', 250);
    assert.deepEqual(await server.request(), [17, ...str('sweep'), ...u32(250)]);
    server.frame(u32(3));
    assert.equal(await reply, 3);
    client.close();
  } finally {
    server.close();
  }
});

test('bad input: truncated replies, silence and a dropped connection reject with the request named', async () => {
  const server = await scriptedServer();
  try {
    const { client } = await connected(server, { timeoutMs: 400 });
    // A truncated reply fails that request only; the next one is answered normally.
    let reply = client.readHistory(1, 60);
    await server.request();
    server.frame([...u32(2), ...u32(1000), ...f32(1)]);
    await assert.rejects(reply, /^OrvexaError: readHistory: malformed reply: .*truncated/);
    reply = client.findChannel('x');
    await server.request();
    server.frame([0, 4, 99]); // a byte too many
    await assert.rejects(reply, /findChannel: malformed reply: 1 unexpected bytes/);
    reply = client.isRecording(1);
    await server.request();
    server.frame([1]);
    assert.equal(await reply, true);

    // A server that never answers: the request fails after the time-out, the connection ends.
    await assert.rejects(client.controlStatus(), /controlStatus: no answer within 400 ms/);
    await assert.rejects(client.readValue(1), /readValue: no answer within 400 ms/);
    assert.equal(client.connected, false);

    // A connection that drops rejects everything still waiting.
    const second = await scriptedServer();
    try {
      const { client: other } = await connected(second);
      const pending = [other.listControllers(), other.stopRecording()];
      await second.request();
      second.drop();
      await assert.rejects(pending[0], /listControllers: connection closed/);
      await assert.rejects(pending[1], /stopRecording: connection closed/);
    } finally {
      second.close();
    }
    // Arguments the server would end the connection for are refused before sending.
    await assert.rejects(client.readHistory(1, -5), /readHistory: span or start/);
  } finally {
    server.close();
  }
});

test('connecting: a closed port, a silent server, a long credential and a refused token reject', async () => {
  const closed = net.createServer();
  await new Promise((resolve) => closed.listen(0, '127.0.0.1', resolve));
  const closedPort = closed.address().port;
  await new Promise((resolve) => closed.close(resolve));
  await assert.rejects(OrvexaClient.connect(`ws://127.0.0.1:${closedPort}/ws`, { WebSocket }), /^OrvexaError: connect: cannot connect/);

  // Accepts the TCP connection and never answers the upgrade.
  const sockets = [];
  const silent = net.createServer((s) => sockets.push(s));
  await new Promise((resolve) => silent.listen(0, '127.0.0.1', resolve));
  try {
    await assert.rejects(OrvexaClient.connect(`ws://127.0.0.1:${silent.address().port}/ws`, { WebSocket, timeoutMs: 300 }), /connect: no connection to .* within 300 ms/);
  } finally {
    for (const s of sockets) s.destroy();
    silent.close();
  }

  const server = await scriptedServer();
  try {
    await assert.rejects(OrvexaClient.connect(server.url, { WebSocket, credential: 'é'.repeat(127) }), /credential is 254 bytes long \(UTF-8\); the server takes at most 253/);
    const token = 'eyJhbGciOiJFUzI1NiJ9.eyJzdWIiOiJhbm4ifQ.c2ln';
    const client = OrvexaClient.connect(server.url, { WebSocket, credential: token });
    assert.deepEqual(await server.request(), [...u16(100), 1, ...str(token)]);
    server.frame([4]);
    server.drop();
    await assert.rejects(client, (error) => /^OrvexaError: hello: not authorised \(answer 4\)$/.test(String(error)) && error.code === 4);
  } finally {
    server.close();
  }
});

test('batch promises settle, numbering restarts are followed, windows run to the newest, bursts outlast the time-out', async () => {
  const server = await scriptedServer();
  try {
    const { client } = await connected(server, { timeoutMs: 300 });

    // The Promise a batch builder hands out settles with its own reply.
    let inner;
    const all = client.batch((b) => {
      inner = b.readValue(3);
      b.isRecording(1);
    });
    await server.request();
    server.frame([...f32(2.5), ...u32(1700000000), 0]);
    assert.deepEqual(await inner, { value: 2.5, time: 1700000000 });
    assert.deepEqual(await all, [{ value: 2.5, time: 1700000000 }, false]);

    // An entry without a count reads from `first` up to the newest, not round the circle.
    const read = client.readExperiment(7, [{ channel: 1, first: 5 }]);
    assert.deepEqual(await server.request(), [15, ...u32(7), ...u32(1), ...u16(1), ...u32(5), ...u32(2 ** 32 - 5)]);
    server.frame(u32(0xffffffff));
    assert.equal(await read, null);

    // The buffer's numbering restarts at 0 while polling: the poll notices and reads on from 0.
    const batches = client.poll(1, { intervalMs: 1 });
    const first = batches.next();
    assert.deepEqual(await server.request(), [12, ...u16(1), 2, ...u32(1), ...u16(0)]);
    server.frame([...u32(1), ...u32(900), ...f32(1), ...u32(100)]);
    assert.deepEqual([...(await first).value.sequences], [100]);
    const second = batches.next();
    assert.deepEqual(await server.request(), [12, ...u16(1), 3, ...u32(101), ...u16(0)]);
    server.frame(u32(0));
    assert.deepEqual(await server.request(), [12, ...u16(1), 0, ...u32(1), ...u16(0)]);
    server.frame([...u32(1), ...u32(3), ...f32(0), ...u32(3)]);
    assert.deepEqual(await server.request(), [12, ...u16(1), 3, ...u32(0), ...u16(0)]);
    server.frame([...u32(2), ...u32(1001), ...f32(4), ...u32(1000), ...f32(3), ...u32(1)]);
    const restarted = (await second).value;
    assert.deepEqual([[...restarted.sequences], [...restarted.times], restarted.gap, restarted.restarted], [[0, 1], [1000, 1001], 0, true]);
    await batches.return();

    // A burst answered after twice the time-out is waited for.
    const burst = client.runBurst('sweep', 600);
    await server.request();
    await new Promise((resolve) => setTimeout(resolve, 700));
    server.frame(u32(9));
    assert.equal(await burst, 9);
    assert.equal(client.connected, true);
    client.close();
  } finally {
    server.close();
  }
});
