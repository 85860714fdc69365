// The typed items of the Orvexa request protocol: big-endian u8, u16, u32, f32, strings
// with a u16 length, addresses and times. RequestWriter builds the bytes of requests,
// ReplyReader walks the bytes of one reply message. Used by requests.js and
// orvexa-client.js; plain synchronous code, no I/O.

/** Failure of one request: a refused connection, a malformed reply, a time-out. */
export class OrvexaError extends Error {
  /**
   * @param {string} request name of the request it concerns (e.g. "readHistory")
   * @param {string} message what went wrong
   */
  constructor(request, message) {
    super(`${request}: ${message}`);
    this.name = 'OrvexaError';
    this.request = request;
  }
}

/** Raised by ReplyReader when a reply ends early or carries impossible values. */
export class MalformedReply extends Error {}

// The server reads at most 253 bytes of a string argument and ends the connection on more.
export const MAX_STRING_BYTES = 253;

const encoder = new TextEncoder();
const decoder = new TextDecoder();

/** Collects the items of one or more requests; bytes() hands out what was written. */
export class RequestWriter {
  constructor(initialSize = 64) {
    this.buffer = new Uint8Array(initialSize);
    this.view = new DataView(this.buffer.buffer);
    this.length = 0;
  }

  #room(n) {
    if (this.length + n <= this.buffer.length) return;
    const grown = new Uint8Array(Math.max(this.buffer.length * 2, this.length + n));
    grown.set(this.buffer.subarray(0, this.length));
    this.buffer = grown;
    this.view = new DataView(grown.buffer);
  }

  u8(v) {
    this.#room(1);
    this.view.setUint8(this.length, v);
    this.length += 1;
    return this;
  }

  u16(v) {
    this.#room(2);
    this.view.setUint16(this.length, v);
    this.length += 2;
    return this;
  }

  u32(v) {
    this.#room(4);
    this.view.setUint32(this.length, v >>> 0);
    this.length += 4;
    return this;
  }

  f32(v) {
    this.#room(4);
    this.view.setFloat32(this.length, v);
    this.length += 4;
    return this;
  }

  string(text) {
    const bytes = encoder.encode(String(text));
    if (bytes.length > MAX_STRING_BYTES)
      throw new RangeError(`a string argument holds at most ${MAX_STRING_BYTES} bytes`);
    this.u16(bytes.length);
    this.#room(bytes.length);
    this.buffer.set(bytes, this.length);
    this.length += bytes.length;
    return this;
  }

  bytes() {
    return this.buffer.slice(0, this.length);
  }
}

/** Reads the items of one reply message in order; every read checks the bytes are there. */
export class ReplyReader {
  /** @param {ArrayBuffer|ArrayBufferView} data */
  constructor(data) {
    if (ArrayBuffer.isView(data)) this.view = new DataView(data.buffer, data.byteOffset, data.byteLength);
    else this.view = new DataView(data);
    this.offset = 0;
  }

  get remaining() {
    return this.view.byteLength - this.offset;
  }

  need(n) {
    if (this.remaining < n)
      throw new MalformedReply(`reply truncated: ${n} more bytes expected at byte ${this.offset}, ${this.remaining} left`);
  }

  u8() {
    this.need(1);
    return this.view.getUint8(this.offset++);
  }

  u16() {
    this.need(2);
    const v = this.view.getUint16(this.offset);
    this.offset += 2;
    return v;
  }

  u32() {
    this.need(4);
    const v = this.view.getUint32(this.offset);
    this.offset += 4;
    return v;
  }

  i32() {
    this.need(4);
    const v = this.view.getInt32(this.offset);
    this.offset += 4;
    return v;
  }

  f32() {
    this.need(4);
    const v = this.view.getFloat32(this.offset);
    this.offset += 4;
    return v;
  }

  string() {
    const n = this.u16();
    this.need(n);
    const bytes = new Uint8Array(this.view.buffer, this.view.byteOffset + this.offset, n);
    this.offset += n;
    return decoder.decode(bytes);
  }

  /** IPv4 address as dotted text. */
  address() {
    this.need(4);
    const o = this.offset;
    const v = this.view;
    this.offset += 4;
    return `${v.getUint8(o)}.${v.getUint8(o + 1)}.${v.getUint8(o + 2)}.${v.getUint8(o + 3)}`;
  }

  /**
   * A count followed by `itemBytes` bytes per item: checked against what the message holds
   * before anything is allocated, so a damaged count cannot ask for gigabytes.
   */
  count(itemBytes) {
    const n = this.u32();
    if (itemBytes > 0 && n * itemBytes > this.remaining)
      throw new MalformedReply(`reply truncated: ${n} items of ${itemBytes} bytes announced, ${this.remaining} bytes left`);
    return n;
  }

  end() {
    if (this.remaining !== 0) throw new MalformedReply(`${this.remaining} unexpected bytes after the reply`);
  }
}
