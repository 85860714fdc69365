// OrvexaClient: one WebSocket connection to an Orvexa server, in a browser or in Node
// (with the `ws` package). It runs the opening exchange, sends each request as one binary
// frame and matches the reply messages to the requests in the order they were sent: the
// server answers every request (or every batch) with exactly one message, an empty one
// for requests without a reply. Everything runs on the caller's event loop.
import { OrvexaError, MalformedReply, ReplyReader } from './wire.js';
import { BATCH_REPLIES, HelloAnswer, REQUESTS, encodeHello, encodeRequest } from './requests.js';
import { pollFastSamples } from './fast-sample-poller.js';

const OPEN = 1;
// The server refuses client frames with a 64-bit length.
const MAX_REQUEST_FRAME = 0xffff;

async function findWebSocket(given) {
  if (given) return given;
  if (typeof globalThis.WebSocket === 'function') return globalThis.WebSocket;
  try {
    const ws = await import('ws');
    return ws.WebSocket ?? ws.default;
  } catch {
    throw new Error('no WebSocket implementation: pass {WebSocket} or install the ws package');
  }
}

// The reply byte of a refused opening exchange, and what it means.
const HELLO_REFUSALS = {
  [HelloAnswer.wrongVersion]: 'protocol version refused by the server',
  [HelloAnswer.notAuthorised]: 'not authorised',
};

function toBytes(data) {
  if (data instanceof ArrayBuffer) return data;
  if (ArrayBuffer.isView(data)) return data;
  if (Array.isArray(data)) return new Uint8Array(Buffer.concat(data)); // ws 'fragments' type
  return null;
}

/** Collects the requests of one batch; each method returns the Promise of its reply. */
class BatchBuilder {
  constructor() {
    this.parts = [];
  }
}
for (const name of Object.keys(REQUESTS)) {
  BatchBuilder.prototype[name] = function (...args) {
    const bytes = encodeRequest(name, args);
    let part;
    const promise = new Promise((resolve, reject) => {
      part = { name, args, bytes, resolve, reject, promise: null };
    });
    // The batch's own Promise reports a failure; a caller that drops this one must not
    // get an unhandled rejection for it.
    promise.catch(() => {});
    part.promise = promise;
    this.parts.push(part);
    return promise;
  };
}

export class OrvexaClient {
  #ws;
  #units = []; // sent and unanswered: each {parts: [{name, args, resolve, reject}]}
  #closedError = null;
  #timeoutMs;
  #watchdog = null;
  #resolveClosed;

  /**
   * Opens a connection and runs the opening exchange.
   * @param {string} url ws:// or wss:// address of the server (or of its proxy)
   * @param {import('../index.js').ConnectOptions} [options]
   * @returns {Promise<OrvexaClient>}
   */
  static async connect(url, options = {}) {
    const WebSocketImpl = await findWebSocket(options.WebSocket);
    const hello = encodeHello(options); // checks the kind and the credential before anything is opened
    const timeoutMs = options.timeoutMs ?? 30000;
    const ws = new WebSocketImpl(url);
    ws.binaryType = 'arraybuffer';
    // The ws package throws an 'error' event nobody listens to (a refused or aborted
    // connection would end Node): one listener stays for the life of the socket.
    ws.addEventListener('error', () => {});
    await new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        fail(new OrvexaError('connect', `no connection to ${url} within ${timeoutMs} ms`));
        try {
          ws.close();
        } catch {}
      }, timeoutMs);
      function fail(error) {
        clearTimeout(timer);
        ws.removeEventListener('open', opened);
        ws.removeEventListener('close', closed);
        ws.removeEventListener('error', failed);
        reject(error);
      }
      function opened() {
        clearTimeout(timer);
        ws.removeEventListener('close', closed);
        ws.removeEventListener('error', failed);
        resolve();
      }
      function closed(event) {
        fail(new OrvexaError('connect', `cannot connect to ${url} (close code ${event.code})`));
      }
      function failed(event) {
        const reason = event?.message ? `: ${event.message}` : '';
        fail(new OrvexaError('connect', `cannot connect to ${url}${reason}`));
      }
      ws.addEventListener('open', opened);
      ws.addEventListener('close', closed);
      ws.addEventListener('error', failed);
    });
    const client = new OrvexaClient(ws, url, options, timeoutMs);
    const answer = await client.#submit([{ name: 'hello', args: [], decode: (r) => r.u8(), bytes: hello }]);
    if (answer[0] !== HelloAnswer.admitted) {
      client.close();
      const error = new OrvexaError('hello', `${HELLO_REFUSALS[answer[0]] ?? 'refused'} (answer ${answer[0]})`);
      error.code = answer[0];
      throw error;
    }
    return client;
  }

  constructor(ws, url, options, timeoutMs) {
    this.#ws = ws;
    this.#timeoutMs = timeoutMs;
    /** The address connected to. */
    this.url = url;
    /** "controller" or "observer". */
    this.kind = options.kind === 'observer' || options.kind === 3 ? 'observer' : 'controller';
    /** Resolves with an Error telling why, once the connection has ended. */
    this.closed = new Promise((resolve) => (this.#resolveClosed = resolve));
    ws.addEventListener('message', (event) => this.#onMessage(event.data));
    ws.addEventListener('close', (event) => {
      const reason = event.reason ? `, ${event.reason}` : '';
      this.#end(`connection closed (code ${event.code}${reason})`);
    });
    ws.addEventListener('error', () => this.#end('connection failed'));
  }

  /** True until the connection has ended. */
  get connected() {
    return this.#closedError === null;
  }

  /** Ends the connection; pending requests are rejected. */
  close() {
    this.#end('connection closed by the client');
    try {
      this.#ws.close();
    } catch {}
  }

  /** @returns {Promise<import('../index.js').Channel[]>} */
  listChannels() {
    return this.#call('listChannels', []);
  }
  /** @param {string} id @returns {Promise<number>} channel number, 0 when none */
  findReadableChannel(id) {
    return this.#call('findReadableChannel', [id]);
  }
  /** @param {string} id @returns {Promise<number>} channel number, 0 when none */
  findWritableChannel(id) {
    return this.#call('findWritableChannel', [id]);
  }
  /** @param {string} id @returns {Promise<number>} channel number, 0 when none */
  findChannel(id) {
    return this.#call('findChannel', [id]);
  }
  /** @param {number} channel @returns {Promise<{value: number, time: number}>} */
  readValue(channel) {
    return this.#call('readValue', [channel]);
  }
  /** Silent when the client is not in control. @returns {Promise<void>} */
  writeValue(channel, value) {
    return this.#call('writeValue', [channel, value]);
  }
  /** @returns {Promise<number>} the server's time after the write */
  writeValueTimed(channel, value) {
    return this.#call('writeValueTimed', [channel, value]);
  }
  /** @returns {Promise<{state: number, seconds: number|null}>} */
  controlStatus() {
    return this.#call('controlStatus', []);
  }
  /** @returns {Promise<{count: number, times: Uint32Array, values: Float32Array}>} */
  readHistory(channel, spanOrStart, mode = 0, limit = 0) {
    return this.#call('readHistory', [channel, spanOrStart, mode, limit]);
  }
  /** @returns {Promise<string[]>} addresses of the controlling clients, in queue order */
  listControllers() {
    return this.#call('listControllers', []);
  }
  /** @returns {Promise<import('../index.js').FastSamples>} newest first */
  readFastSamples(channel, flags, countOrFirst, maximum = 0) {
    return this.#call('readFastSamples', [channel, flags, countOrFirst, maximum]);
  }
  /** @returns {Promise<number|null>} experiment id, null when refused */
  startRecording(options) {
    return this.#call('startRecording', [options]);
  }
  /** @returns {Promise<number|null>} experiment id, null when nothing was recording */
  stopRecording() {
    return this.#call('stopRecording', []);
  }
  /** @returns {Promise<import('../index.js').ExperimentData[]|null>} null when there is no such experiment */
  readExperiment(id, entries) {
    return this.#call('readExperiment', [id, entries]);
  }
  /** @returns {Promise<import('../index.js').ExperimentInfo[]>} */
  listExperiments(ownerKey = 0, lowest = 0, highest = 0) {
    return this.#call('listExperiments', [ownerKey, lowest, highest]);
  }
  /**
   * Every experiment and burst the server holds with lowest <= id <= highest (highest 0:
   * no upper bound), whoever started it, with its owner key and whether it is a burst.
   * @returns {Promise<import('../index.js').ExperimentListing[]>}
   */
  listAllExperiments(lowest = 0, highest = 0) {
    return this.#call('listAllExperiments', [lowest, highest]);
  }
  /** @returns {Promise<number>} id of the experiment holding the burst */
  runBurst(name, duration) {
    return this.#call('runBurst', [name, duration]);
  }
  /** @returns {Promise<boolean>} */
  isRecording(id) {
    return this.#call('isRecording', [id]);
  }

  /**
   * BatchReplies: the requests made on the builder go out in one frame and their replies
   * come back in one message. Resolves with the replies in call order.
   * @param {(batch: OrvexaClient) => unknown} build
   */
  batch(build) {
    const builder = new BatchBuilder();
    build(builder);
    const parts = builder.parts;
    if (parts.length === 0) return Promise.resolve([]);
    if (parts.length > 255) return Promise.reject(new RangeError('a batch holds at most 255 requests'));
    this.#submit(parts, parts.length > 1).catch(() => {}); // each part is rejected on its own
    return Promise.all(parts.map((p) => p.promise));
  }

  /**
   * Gap-free polling of a fast-sampled channel: yields batches oldest first.
   * @returns {AsyncGenerator<import('../index.js').FastBatch>}
   */
  poll(channel, options) {
    return pollFastSamples(this, channel, options);
  }

  #call(name, args) {
    let bytes;
    try {
      bytes = encodeRequest(name, args);
    } catch (error) {
      return Promise.reject(new OrvexaError(name, error.message));
    }
    return this.#submit([{ name, args, bytes }]).then((r) => r[0]);
  }

  // Sends the parts as one frame (with BatchReplies before them when batched) and returns
  // the Promise of their replies, read from the one message that answers them.
  #submit(parts, batched = false) {
    const settled = Promise.all(
      parts.map(
        (p) =>
          new Promise((resolve, reject) => {
            const outer = { resolve: p.resolve, reject: p.reject };
            p.resolve = (v) => (outer.resolve?.(v), resolve(v));
            p.reject = (e) => (outer.reject?.(e), reject(e));
          }),
      ),
    );
    if (this.#closedError) {
      for (const p of parts) p.reject(new OrvexaError(p.name, this.#closedError));
      return settled;
    }
    let size = parts.reduce((sum, p) => sum + p.bytes.length, batched ? 2 : 0);
    if (size > MAX_REQUEST_FRAME) {
      for (const p of parts) p.reject(new OrvexaError(p.name, `request of ${size} bytes is too large for one frame`));
      return settled;
    }
    const frame = new Uint8Array(size);
    let at = 0;
    if (batched) {
      frame[0] = BATCH_REPLIES;
      frame[1] = parts.length;
      at = 2;
    }
    for (const p of parts) {
      frame.set(p.bytes, at);
      at += p.bytes.length;
    }
    if (this.#ws.readyState !== OPEN) {
      this.#end('connection is not open');
      for (const p of parts) p.reject(new OrvexaError(p.name, this.#closedError));
      return settled;
    }
    // A request that keeps the server busy on purpose (a burst) gets its duration on top
    // of the time-out.
    const busyMs = parts.reduce((sum, p) => sum + (REQUESTS[p.name]?.busyMs?.(...p.args) ?? 0), 0);
    this.#units.push({ parts, busyMs });
    this.#ws.send(frame);
    if (this.#units.length === 1) this.#armWatchdog();
    return settled;
  }

  // A server that stops answering would leave every later reply unmatched: when the oldest
  // unanswered message has waited longer than the time-out (from the moment the reply
  // before it came), the connection is given up.
  #armWatchdog() {
    clearTimeout(this.#watchdog);
    this.#watchdog = null;
    const head = this.#units[0];
    if (!head || this.#closedError) return;
    const waitMs = this.#timeoutMs + head.busyMs;
    this.#watchdog = setTimeout(() => {
      this.#end(`no answer within ${waitMs} ms`, head.parts[0]?.name ?? 'request');
      try {
        this.#ws.close();
      } catch {}
    }, waitMs);
  }

  #onMessage(data) {
    const unit = this.#units.shift();
    if (!unit) {
      this.#end('the server sent a message nobody asked for');
      this.#ws.close();
      return;
    }
    this.#armWatchdog();
    const bytes = toBytes(data);
    const reader = bytes && new ReplyReader(bytes);
    const parts = unit.parts;
    for (let i = 0; i < parts.length; i++) {
      const p = parts[i];
      try {
        if (!reader) throw new MalformedReply('a text message instead of a binary reply');
        const decode = p.decode ?? REQUESTS[p.name].decode;
        const value = decode(reader, ...p.args);
        if (i === parts.length - 1) reader.end();
        p.resolve(value);
      } catch (error) {
        const message = error instanceof MalformedReply ? `malformed reply: ${error.message}` : String(error?.message ?? error);
        for (const rest of parts.slice(i)) rest.reject(new OrvexaError(rest.name, message));
        return;
      }
    }
  }

  // The end of the connection: every pending request is rejected with the reason.
  #end(reason, firstName) {
    if (this.#closedError) return;
    this.#closedError = reason;
    clearTimeout(this.#watchdog);
    const units = this.#units;
    this.#units = [];
    for (const unit of units)
      for (const p of unit.parts) p.reject(new OrvexaError(p.name, reason));
    this.#resolveClosed(new OrvexaError(firstName ?? 'connection', reason));
  }
}
