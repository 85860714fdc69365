// Gap-free polling of a channel's fast-sample buffer: each poll asks for every sample
// from the one after the newest already seen (ReadFastSamples with "since"), with their
// millisecond times; the sequence numbers follow from the newest one, since they are
// consecutive. Called through OrvexaClient.poll; runs on the caller's event loop.
import { FastFlags } from './requests.js';

function sleep(ms, signal) {
  return new Promise((resolve) => {
    if (signal?.aborted) return resolve();
    const timer = setTimeout(done, ms);
    function done() {
      clearTimeout(timer);
      signal?.removeEventListener('abort', done);
      resolve();
    }
    signal?.addEventListener('abort', done, { once: true });
  });
}

/**
 * Yields {sequences, times, values, gap} batches, oldest sample first; `times` are the
 * server's millisecond tick. `gap` counts the samples the buffer dropped before they could
 * be read (the polls came too slowly for the buffer's size); 0 when none was missed.
 * @param {import('./orvexa-client.js').OrvexaClient} client
 * @param {number} channel
 * @param {{intervalMs?: number, signal?: AbortSignal}} [options]
 */
export async function* pollFastSamples(client, channel, { intervalMs = 40, signal } = {}) {
  let next = null; // sequence number of the next sample wanted
  while (!signal?.aborted) {
    const reply =
      next === null
        ? await client.readFastSamples(channel, FastFlags.withTime, 1, 0)
        : await client.readFastSamples(channel, FastFlags.since | FastFlags.withTime, next, 0);
    if (reply.count > 0 && !signal?.aborted) {
      const n = reply.count;
      const newest = reply.newest;
      const oldest = (newest - (n - 1)) >>> 0;
      // Every sample from `next` on is asked for; the buffer no longer holding some of them
      // is the only way to lose any.
      const gap = next === null ? 0 : (oldest - next) >>> 0;
      const sequences = new Uint32Array(n);
      const times = new Uint32Array(n);
      const values = new Float32Array(n);
      for (let i = 0; i < n; i++) {
        const from = n - 1 - i; // the reply is newest first
        sequences[i] = (oldest + i) >>> 0;
        times[i] = reply.times[from];
        values[i] = reply.values[from];
      }
      next = (newest + 1) >>> 0;
      yield { sequences, times, values, gap };
    }
    await sleep(intervalMs, signal);
  }
}
