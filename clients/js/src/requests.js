// The requests of the Orvexa protocol: for each, its code, how its arguments are written
// and how its reply is read. OrvexaClient turns every entry into a method of the same
// name; tests and benchmarks use the encoders and decoders directly. No I/O here.
import { MAX_STRING_BYTES, MalformedReply, RequestWriter } from './wire.js';

export const PROTOCOL_VERSION = 100;
/** The server's "refused" and "no limit" answer. */
export const NONE = 0xffffffff;
/** Largest history reply the server sends. */
export const MAX_HISTORY_SAMPLES = 131072;
/** Channel numbers 1001 .. 1008 name the burst columns "burst_0" .. "burst_7". */
export const FIRST_BURST_SLOT = 1001;
export const BURST_SLOT_COUNT = 8;
/** The request that batches replies: not a method of its own (see OrvexaClient.batch). */
export const BATCH_REPLIES = 10;

/** The byte that answers the opening exchange. */
export const HelloAnswer = Object.freeze({ admitted: 0, wrongVersion: 3, notAuthorised: 4 });

/** Client kinds of the opening exchange. */
export const ClientKind = Object.freeze({ controller: 1, forwarded: 2, observer: 3 });

/** ReadFastSamples flags: bit 0 = "since a sequence", bit 1 = times instead of sequences. */
export const FastFlags = Object.freeze({ since: 1, withTime: 2 });

/** ReadHistory modes. */
export const HistoryMode = Object.freeze({ span: 0, firstInHour: 1, window: 2 });

/**
 * The limit argument of a mode-2 history read: window length in seconds (below 2^24) and
 * thinning code (0-23 first sample in that hour, 24 none, 25-29 one per 1/10/60/180/360 min).
 */
export function windowLimit(windowSeconds, thinning = 24) {
  if (!(windowSeconds >= 0 && windowSeconds < 0x1000000)) throw new RangeError('window length must be below 2^24 s');
  if (!(thinning >= 0 && thinning <= 31)) throw new RangeError('thinning code must be 0 .. 31');
  return ((thinning << 24) | windowSeconds) >>> 0;
}

function channelNumber(n) {
  if (!Number.isInteger(n) || n < 0 || n > 0xffff) throw new RangeError(`bad channel number ${n}`);
  return n;
}

function u32Arg(n, what) {
  if (!Number.isInteger(n) || n < 0 || n > 0xffffffff) throw new RangeError(`${what} must be an unsigned 32-bit integer`);
  return n;
}

// The server's window first <= s < first + count is taken on the 32-bit circle: a count
// of 0xFFFFFFFF from a later first would come round to the samples before it. The count
// that ends the window at the top of the circle means "from first to the newest".
function toNewest(first) {
  return first === 0 ? NONE : 2 ** 32 - u32Arg(first, 'first');
}

function refusedAsNull(v) {
  return v === NONE ? null : v;
}

// Sample columns: count, then per sample a u32 and an f32, read straight into typed arrays.
function readPairs(r, n, keyName) {
  const keys = new Uint32Array(n);
  const values = new Float32Array(n);
  const view = r.view;
  let o = r.offset;
  for (let i = 0; i < n; i++, o += 8) {
    keys[i] = view.getUint32(o);
    values[i] = view.getFloat32(o + 4);
  }
  r.offset = o;
  return { [keyName]: keys, values };
}

/**
 * Every request: code, encode(writer, ...args) and decode(reader, ...args).
 * Argument checks throw before anything is sent.
 */
export const REQUESTS = {
  listChannels: {
    code: 2,
    encode() {},
    decode(r) {
      const n = r.count(5);
      const channels = [];
      for (let i = 0; i < n; i++) {
        const flags = r.u8();
        const id = r.string();
        const description = r.string();
        channels.push({ number: i + 1, id, description, readable: (flags & 1) !== 0, writable: (flags & 2) !== 0 });
      }
      return channels;
    },
  },
  findReadableChannel: { code: 3, encode: (w, id) => w.string(id), decode: (r) => r.u16() },
  findWritableChannel: { code: 4, encode: (w, id) => w.string(id), decode: (r) => r.u16() },
  findChannel: { code: 20, encode: (w, id) => w.string(id), decode: (r) => r.u16() },
  readValue: {
    code: 5,
    encode: (w, channel) => w.u16(channelNumber(channel)),
    decode: (r) => ({ value: r.f32(), time: r.u32() }),
  },
  writeValue: {
    code: 6,
    encode: (w, channel, value) => w.u16(channelNumber(channel)).f32(value),
    decode: () => undefined,
  },
  writeValueTimed: {
    code: 19,
    encode: (w, channel, value) => w.u16(channelNumber(channel)).f32(value),
    decode: (r) => r.u32(),
  },
  controlStatus: {
    code: 7,
    encode() {},
    decode(r) {
      const state = r.i32();
      if (state < -1 || state > 1) throw new MalformedReply(`control state ${state}`);
      return { state, seconds: refusedAsNull(r.u32()) };
    },
  },
  readHistory: {
    code: 8,
    encode(w, channel, spanOrStart, mode = 0, limit = 0) {
      // The server ends the connection on a negative (signed) span or start.
      if (!Number.isInteger(spanOrStart) || spanOrStart < 0 || spanOrStart > 0x7fffffff)
        throw new RangeError('span or start must lie in 0 .. 2^31-1');
      if (!Number.isInteger(mode) || mode < 0 || mode > 0xffff) throw new RangeError('bad history mode');
      w.u16(channelNumber(channel)).u32(spanOrStart).u16(mode).u32(u32Arg(limit, 'limit'));
    },
    decode(r) {
      const n = r.count(8);
      if (n > MAX_HISTORY_SAMPLES) throw new MalformedReply(`${n} history samples, at most ${MAX_HISTORY_SAMPLES}`);
      return { count: n, ...readPairs(r, n, 'times') };
    },
  },
  listControllers: {
    code: 11,
    encode() {},
    decode(r) {
      const n = r.count(4);
      const addresses = [];
      for (let i = 0; i < n; i++) addresses.push(r.address());
      return addresses;
    },
  },
  readFastSamples: {
    code: 12,
    encode(w, channel, flags, countOrFirst, maximum = 0) {
      if (!Number.isInteger(maximum) || maximum < 0 || maximum > 0xffff) throw new RangeError('maximum must be 0 .. 65535');
      w.u16(channelNumber(channel)).u8(flags & 3).u32(u32Arg(countOrFirst, 'count or first sequence')).u16(maximum);
    },
    decode(r, channel, flags) {
      const n = r.count(8);
      const columns = readPairs(r, n, (flags & FastFlags.withTime) !== 0 ? 'times' : 'sequences');
      return { count: n, ...columns, newest: n > 0 ? r.u32() : null };
    },
  },
  startRecording: {
    code: 13,
    encode(w, { channels, ownerKey = 0, id = 0, capacity = 30000, argument = 0, ring = false } = {}) {
      if (!Array.isArray(channels) || channels.length > 0xffff) throw new RangeError('channels: a list of channel numbers');
      w.u32(u32Arg(ownerKey, 'ownerKey')).u32(u32Arg(id, 'id')).u32(u32Arg(capacity, 'capacity'));
      w.u32(u32Arg(argument, 'argument')).u8(ring ? 1 : 0).u16(channels.length);
      for (const c of channels) w.u16(channelNumber(c));
    },
    decode: (r) => refusedAsNull(r.u32()),
  },
  stopRecording: { code: 14, encode() {}, decode: (r) => refusedAsNull(r.u32()) },
  readExperiment: {
    code: 15,
    encode(w, id, entries) {
      if (!Array.isArray(entries)) throw new RangeError('entries: a list of {channel, first, count}');
      w.u32(u32Arg(id, 'id')).u32(entries.length);
      for (const { channel, first = 0, count = toNewest(first) } of entries)
        w.u16(channelNumber(channel)).u32(u32Arg(first, 'first')).u32(u32Arg(count, 'count'));
    },
    decode(r) {
      const k = r.u32();
      if (k === NONE) return null;
      if (k * 10 > r.remaining) throw new MalformedReply(`${k} results announced, ${r.remaining} bytes left`);
      const results = [];
      for (let i = 0; i < k; i++) {
        const channel = r.u16();
        const stored = refusedAsNull(r.u32());
        const j = r.count(12);
        const sequences = new Uint32Array(j);
        const times = new Uint32Array(j);
        const values = new Float32Array(j);
        const view = r.view;
        let o = r.offset;
        for (let s = 0; s < j; s++, o += 12) {
          sequences[s] = view.getUint32(o);
          times[s] = view.getUint32(o + 4);
          values[s] = view.getFloat32(o + 8);
        }
        r.offset = o;
        results.push({ channel, stored, sequences, times, values });
      }
      return results;
    },
  },
  listExperiments: {
    code: 16,
    encode: (w, ownerKey = 0, lowest = 0, highest = 0) =>
      w.u32(u32Arg(ownerKey, 'ownerKey')).u32(u32Arg(lowest, 'lowest')).u32(u32Arg(highest, 'highest')),
    decode(r) {
      const n = r.count(17);
      const list = [];
      for (let i = 0; i < n; i++)
        list.push({ id: r.u32(), recording: r.u8() !== 0, startTime: r.u32(), stopTime: r.u32(), address: r.address() });
      return list;
    },
  },
  listAllExperiments: {
    code: 64,
    encode: (w, lowest = 0, highest = 0) => w.u32(u32Arg(lowest, 'lowest')).u32(u32Arg(highest, 'highest')),
    decode(r) {
      const n = r.count(22);
      const list = [];
      for (let i = 0; i < n; i++)
        list.push({
          id: r.u32(), recording: r.u8() !== 0, startTime: r.u32(), stopTime: r.u32(), address: r.address(),
          ownerKey: r.u32(), burst: r.u8() !== 0,
        });
      return list;
    },
  },
  runBurst: {
    code: 17,
    encode: (w, name, duration) => w.string(name).u32(u32Arg(duration, 'duration')),
    decode: (r) => r.u32(),
    // The reply comes after the burst. The duration is in the plug-in's unit; the shipped
    // plug-ins take milliseconds.
    busyMs: (name, duration) => duration,
  },
  isRecording: { code: 18, encode: (w, id) => w.u32(u32Arg(id, 'id')), decode: (r) => r.u8() !== 0 },
};

/** The bytes of one request (code and arguments). */
export function encodeRequest(name, args) {
  const w = new RequestWriter();
  const request = REQUESTS[name];
  w.u8(request.code);
  request.encode(w, ...args);
  return w.bytes();
}

/** The bytes of the opening exchange. */
export function encodeHello({ kind = 'controller', credential = '', forwardedAddress = null } = {}) {
  const code = typeof kind === 'number' ? kind : ClientKind[kind];
  if (code !== ClientKind.controller && code !== ClientKind.observer)
    throw new RangeError('kind must be "controller" or "observer"');
  const w = new RequestWriter();
  w.u16(PROTOCOL_VERSION);
  if (forwardedAddress) {
    const parts = String(forwardedAddress).split('.').map(Number);
    if (parts.length !== 4 || parts.some((p) => !Number.isInteger(p) || p < 0 || p > 255))
      throw new RangeError(`bad forwarded address ${forwardedAddress}`);
    w.u8(ClientKind.forwarded);
    for (const p of parts) w.u8(p);
  }
  const length = new TextEncoder().encode(String(credential)).length;
  if (length > MAX_STRING_BYTES)
    throw new RangeError(`the credential is ${length} bytes long (UTF-8); the server takes at most ${MAX_STRING_BYTES}`);
  w.u8(code).string(credential);
  return w.bytes();
}
