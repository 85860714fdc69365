// OrvexaLive: a viewer of one lab's live data through the MQTT broker the server
// publishes to (orvexa/v1/<labId>/...), in a browser or in Node. The `mqtt` package is
// passed in (as OrvexaClient takes `ws`), so the library depends on no MQTT client of its
// own. Values, control, status and channels arrive as callbacks; fast(channelId) yields
// the same gap-flagged batches as OrvexaClient.poll. A message that cannot be decoded is
// reported to the onError callbacks with its topic, never thrown into the caller.
// Everything runs on the caller's event loop.

const PREFIX = 'orvexa/v1/';
// Batches a fast() reader may fall behind by before the oldest are dropped (and counted in
// the next batch's gap): a reader that stops reading never grows memory.
const MAX_QUEUED_BATCHES = 200;

/** A live message that does not have the layout of its topic. */
export class MalformedLiveMessage extends Error {
  constructor(topic, reason) {
    super(`${topic}: ${reason}`);
    this.name = 'MalformedLiveMessage';
    this.topic = topic;
  }
}

/** The topic level of a channel ID, as the server forms it. */
export function topicLevel(id) {
  return id.replace(/[\s/+#]/g, '_');
}

function view(payload) {
  const bytes = payload instanceof Uint8Array ? payload : new Uint8Array(payload);
  return new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
}

function text(payload) {
  return typeof payload === 'string' ? payload : new TextDecoder().decode(payload);
}

/** values: u32 frame, f64 time, u16 n, n x (u16 channel, f32 value), little endian. */
export function decodeValues(payload) {
  const v = view(payload);
  if (v.byteLength < 14) throw new Error(`values frame of ${v.byteLength} bytes`);
  const count = v.getUint16(12, true);
  if (v.byteLength !== 14 + 6 * count)
    throw new Error(`values frame of ${v.byteLength} bytes for ${count} channels`);
  const values = new Map();
  for (let i = 0, at = 14; i < count; i++, at += 6)
    values.set(v.getUint16(at, true), v.getFloat32(at + 2, true));
  return { frame: v.getUint32(0, true), time: v.getFloat64(4, true), values };
}

/** fast: u32 first, u32 n, f64 send time, n x (u32 tick, f32 value), little endian. */
export function decodeFastBatch(payload) {
  const v = view(payload);
  if (v.byteLength < 16) throw new Error(`fast batch of ${v.byteLength} bytes`);
  const first = v.getUint32(0, true);
  const count = v.getUint32(4, true);
  if (v.byteLength !== 16 + 8 * count)
    throw new Error(`fast batch of ${v.byteLength} bytes for ${count} samples`);
  const sequences = new Uint32Array(count);
  const times = new Uint32Array(count);
  const values = new Float32Array(count);
  for (let i = 0, at = 16; i < count; i++, at += 8) {
    sequences[i] = (first + i) >>> 0;
    times[i] = v.getUint32(at, true);
    values[i] = v.getFloat32(at + 4, true);
  }
  return { first, sentAt: v.getFloat64(8, true), sequences, times, values };
}

export class OrvexaLive {
  #client;
  #prefix;
  #listeners = { values: new Set(), control: new Set(), status: new Set(), channels: new Set(),
    experiments: new Set(), error: new Set() };
  #latest = new Map(); // leaf topic -> last decoded message
  #fast = new Map(); // topic -> Set of readers

  /**
   * Connects to the broker (for example 'wss://host/mqtt' or 'mqtt://127.0.0.1:1883') and
   * subscribes to the lab's topics.
   * @param {string} url
   * @param {{mqtt: {connect: Function}, labId: string, username?: string, password?: string}} options
   */
  static connect(url, { mqtt, labId, ...options }) {
    if (!mqtt?.connect) throw new Error('pass {mqtt}: the mqtt package');
    if (!labId) throw new Error('pass {labId}');
    return new OrvexaLive(mqtt.connect(url, { reconnectPeriod: 1000, ...options }), labId);
  }

  /** Wraps an mqtt client that is connecting or connected (tests pass their own). */
  constructor(client, labId) {
    this.#client = client;
    this.#prefix = `${PREFIX}${labId}/`;
    const topics = ['status', 'channels', 'values', 'control', 'experiments'].map(
      (leaf) => this.#prefix + leaf,
    );
    // Subscribed again on every (re)connection; the broker then sends the retained ones.
    const subscribe = () => {
      client.subscribe(topics);
      if (this.#fast.size > 0) client.subscribe([...this.#fast.keys()]);
    };
    client.on('connect', subscribe);
    if (client.connected) subscribe();
    client.on('message', (topic, payload) => this.#receive(topic, payload));
    client.on('error', (error) => this.#emit('error', { topic: null, error }));
  }

  onValues(callback) { return this.#on('values', callback); }
  onControl(callback) { return this.#on('control', callback); }
  onStatus(callback) { return this.#on('status', callback); }
  onChannels(callback) { return this.#on('channels', callback); }
  onExperiments(callback) { return this.#on('experiments', callback); }
  /** callback({topic, error}) for messages that could not be decoded and client errors. */
  onError(callback) { return this.#on('error', callback); }

  /**
   * Yields {sequences, times, values, gap} batches of a fast-logged channel, oldest sample
   * first, from the first batch after the call; `gap` counts the samples missed before the
   * batch (lost by the broker, a reconnection or a reader too slow), 0 when none.
   * @param {string} channelId
   * @param {{signal?: AbortSignal}} [options]
   */
  async *fast(channelId, { signal } = {}) {
    const topic = `${this.#prefix}fast/${topicLevel(channelId)}`;
    const reader = { queue: [], wake: null, dropped: 0 };
    let readers = this.#fast.get(topic);
    if (!readers) {
      readers = new Set();
      this.#fast.set(topic, readers);
      this.#client.subscribe(topic);
    }
    readers.add(reader);
    const stop = () => reader.wake?.();
    signal?.addEventListener('abort', stop, { once: true });
    let next = null;
    try {
      while (!signal?.aborted) {
        if (reader.queue.length === 0) {
          await new Promise((resolve) => (reader.wake = resolve));
          reader.wake = null;
          continue;
        }
        const batch = reader.queue.shift();
        const gap = next === null ? 0 : (batch.first - next) >>> 0;
        next = (batch.first + batch.values.length) >>> 0;
        yield { sequences: batch.sequences, times: batch.times, values: batch.values, gap };
      }
    } finally {
      signal?.removeEventListener('abort', stop);
      readers.delete(reader);
      if (readers.size === 0) {
        this.#fast.delete(topic);
        this.#client.unsubscribe(topic);
      }
    }
  }

  /** The latest message of a leaf topic ('values', 'control', ...), or undefined. */
  latest(leaf) { return this.#latest.get(leaf); }

  close() {
    for (const readers of this.#fast.values()) for (const reader of readers) reader.wake?.();
    return new Promise((resolve) => this.#client.end(false, {}, resolve));
  }

  #on(kind, callback) {
    this.#listeners[kind].add(callback);
    return () => this.#listeners[kind].delete(callback);
  }

  #emit(kind, message) {
    for (const callback of this.#listeners[kind]) callback(message);
  }

  #receive(topic, payload) {
    if (!topic.startsWith(this.#prefix)) return;
    const leaf = topic.slice(this.#prefix.length);
    let decoded;
    try {
      if (leaf.startsWith('fast/')) {
        const batch = decodeFastBatch(payload);
        for (const reader of this.#fast.get(topic) ?? []) {
          if (reader.queue.length >= MAX_QUEUED_BATCHES) reader.queue.shift();
          reader.queue.push(batch);
          reader.wake?.();
        }
        return;
      }
      if (leaf === 'values') decoded = decodeValues(payload);
      else if (leaf === 'status') decoded = text(payload);
      else if (['channels', 'control', 'experiments'].includes(leaf)) decoded = JSON.parse(text(payload));
      else return;
    } catch (error) {
      this.#emit('error', { topic, error: new MalformedLiveMessage(topic, error.message) });
      return;
    }
    this.#latest.set(leaf, decoded);
    this.#emit(leaf, decoded);
  }
}
