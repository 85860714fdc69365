// OrvexaLive against a stand-in for the mqtt package's client: the test delivers the
// broker's messages itself, so batch continuity, gaps, the value layout and the report of
// an undecodable message are exact.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { EventEmitter } from 'node:events';
import { OrvexaLive } from '../src/index.js';

function fakeMqtt() {
  const client = new EventEmitter();
  client.connected = true;
  client.subscribed = new Set();
  client.subscribe = (topics) => [].concat(topics).forEach((t) => client.subscribed.add(t));
  client.unsubscribe = (topic) => client.subscribed.delete(topic);
  client.end = (_force, _options, done) => done();
  return { connect: () => client, client };
}

function fastBatch(first, values) {
  const v = new DataView(new ArrayBuffer(16 + 8 * values.length));
  v.setUint32(0, first, true);
  v.setUint32(4, values.length, true);
  v.setFloat64(8, 1765250000.25, true);
  values.forEach((value, i) => {
    v.setUint32(16 + 8 * i, 1000 + i, true);
    v.setFloat32(20 + 8 * i, value, true);
  });
  return new Uint8Array(v.buffer);
}

test('live values, control and fast batches with gaps; broken messages named', async () => {
  const mqtt = fakeMqtt();
  const live = OrvexaLive.connect('mqtt://broker', { mqtt, labId: 'labA' });
  const seen = { values: [], control: [], errors: [] };
  live.onValues((v) => seen.values.push(v));
  live.onControl((c) => seen.control.push(c));
  live.onError((e) => seen.errors.push(e));
  assert.ok(mqtt.client.subscribed.has('orvexa/v1/labA/values'));

  const values = new DataView(new ArrayBuffer(14 + 12));
  values.setUint32(0, 7, true);
  values.setFloat64(4, 1765250000.5, true);
  values.setUint16(12, 2, true);
  values.setUint16(14, 1, true);
  values.setFloat32(16, 1.5, true);
  values.setUint16(20, 3, true);
  values.setFloat32(22, -2, true);
  mqtt.client.emit('message', 'orvexa/v1/labA/values', new Uint8Array(values.buffer));
  mqtt.client.emit('message', 'orvexa/v1/labA/control',
    Buffer.from('{"limitMultipleControl":true,"inControl":["10.1.*.*"],"queue":[],"clients":1}'));
  // Another lab's topic is not ours even if it arrives.
  mqtt.client.emit('message', 'orvexa/v1/labB/values', new Uint8Array(values.buffer));
  assert.equal(seen.values.length, 1);
  assert.equal(seen.values[0].frame, 7);
  assert.deepEqual([...seen.values[0].values], [[1, 1.5], [3, -2]]);
  assert.deepEqual(seen.control[0].inControl, ['10.1.*.*']);

  const reader = live.fast('Probe counter');
  const first = reader.next();
  assert.ok(mqtt.client.subscribed.has('orvexa/v1/labA/fast/Probe_counter'));
  const topic = 'orvexa/v1/labA/fast/Probe_counter';
  mqtt.client.emit('message', topic, fastBatch(10, [1, 2, 3]));
  mqtt.client.emit('message', topic, fastBatch(13, [4, 5]));
  mqtt.client.emit('message', topic, fastBatch(20, [9])); // 15..19 lost on the way
  mqtt.client.emit('message', topic, fastBatch(21, [10, 11]).subarray(0, 20)); // truncated
  const batches = [(await first).value, (await reader.next()).value, (await reader.next()).value];
  assert.deepEqual([...batches[0].sequences], [10, 11, 12]);
  assert.deepEqual([...batches[0].values], [1, 2, 3]);
  assert.deepEqual(batches.map((b) => b.gap), [0, 0, 5]);
  assert.equal(seen.errors.length, 1);
  assert.equal(seen.errors[0].error.topic, topic);
  assert.match(seen.errors[0].error.message, /fast\/Probe_counter: fast batch of 20 bytes/);
  await reader.return();
  assert.ok(!mqtt.client.subscribed.has(topic));
  await live.close();
});
