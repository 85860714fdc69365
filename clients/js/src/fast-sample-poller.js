// Gap-free polling of a channel's fast-sample buffer: each poll asks for every sample
// from the one after the newest already seen (ReadFastSamples with "since"), with their
// millisecond times; the sequence numbers follow from the newest one, since they are
// consecutive. Called through OrvexaClient.poll; runs on the caller's event loop.
import { FastFlags } from './requests.js';

const HALF_CIRCLE = 2 ** 31;

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
 * A ReadFastSamples reply (newest first) as columns oldest first, with each sample's
 * sequence number (they are consecutive, ending at the reply's newest).
 * @returns {{sequences: Uint32Array, times: Uint32Array, values: Float32Array}}
 */
export function oldestFirst(reply) {
  const n = reply.count;
  const oldest = (reply.newest - (n - 1)) >>> 0;
  const sequences = new Uint32Array(n);
  const times = new Uint32Array(n);
  const values = new Float32Array(n);
  for (let i = 0; i < n; i++) {
    const from = n - 1 - i;
    sequences[i] = (oldest + i) >>> 0;
    times[i] = reply.times?.[from] ?? 0;
    values[i] = reply.values[from];
  }
  return { sequences, times, values };
}

/**
 * Yields {sequences, times, values, gap, restarted} batches, oldest sample first; `times`
 * are the server's millisecond tick. `gap` counts the samples the buffer dropped before
 * they could be read (the polls came too slowly for the buffer's size); 0 when none was
 * missed. `restarted` is true on the first batch after the buffer's numbering began again
 * at 0 (the server restarted, or fast logging was switched off and on): what the old
 * numbering held after the last batch is lost uncounted.
 * @param {import('./orvexa-client.js').OrvexaClient} client
 * @param {number} channel
 * @param {{intervalMs?: number, signal?: AbortSignal, since?: number}} [options] `since`:
 *   sequence number of the first sample wanted (default: the one after the newest now)
 */
export async function* pollFastSamples(client, channel, { intervalMs = 40, signal, since } = {}) {
  let next = since ?? null; // sequence number of the next sample wanted
  let restarted = false;
  while (!signal?.aborted) {
    const reply =
      next === null
        ? await client.readFastSamples(channel, FastFlags.withTime, 1, 0)
        : await client.readFastSamples(channel, FastFlags.since | FastFlags.withTime, next, 0);
    if (reply.count > 0 && !signal?.aborted) {
      const { sequences, times, values } = oldestFirst(reply);
      // Every sample from `next` on is asked for; the buffer no longer holding some of them
      // is the only way to lose any.
      const gap = next === null ? 0 : (sequences[0] - next) >>> 0;
      next = (reply.newest + 1) >>> 0;
      yield { sequences, times, values, gap, restarted };
      restarted = false;
    } else if (next !== null && next !== 0 && !signal?.aborted) {
      // Nothing since `next`: either nothing new yet, or a buffer numbered from 0 again,
      // which would answer nothing until its numbering caught up. Its newest tells.
      const probe = await client.readFastSamples(channel, 0, 1, 0);
      const behind = probe.newest === null ? 0 : (next - 1 - probe.newest) >>> 0;
      if (behind > 0 && behind < HALF_CIRCLE) {
        next = 0;
        restarted = true;
        continue;
      }
    }
    await sleep(intervalMs, signal);
  }
}
