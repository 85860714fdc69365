// The live fast-sample chart: starts with the samples the server's buffer already holds,
// then polls on from the newest without gaps (the library's poll helper), keeps a
// scrolling window of them and redraws the uPlot chart once per display frame; shows the
// rate it receives and any gap. An observer whose lab publishes to a broker follows the
// channel's live batches there instead (LiveFeed), filling what the broker did not bring
// from the server's buffer, and polls on if the broker falls silent. The time axis is the
// server's: each sample's tick placed on the server's calendar time (ServerClock). Runs on
// the page's thread; console.js attaches it to each new connection.
import { FastFlags, oldestFirst } from 'orvexa-client';
import { Chart } from './chart.js';
import { ServerClock } from './server-clock.js';

const RATE_WINDOW_MS = 2000;
// The first read takes what the buffer holds, up to this many samples (the most one
// ReadFastSamples can be limited to).
const HELD_SAMPLES = 0xffff;
// The server's clock is asked about once a second until its offset is known to a few
// milliseconds, then now and then.
const CLOCK_SYNC_MS = 1000;
const CLOCK_CHECK_MS = 15000;
const CLOCK_GOOD_ENOUGH_MS = 20;
// How often a chart fed by the broker checks that the broker still delivers.
const FEED_CHECK_MS = 500;
const HALF_CIRCLE = 2 ** 31;

// A growable pair of columns whose front is dropped as the window scrolls; the live part
// is always contiguous, so the chart gets it as two subarrays without copying.
class SampleWindow {
  constructor() {
    this.xs = new Float64Array(16384);
    this.ys = new Float32Array(16384);
    this.start = 0;
    this.end = 0;
  }

  push(x, y) {
    if (this.end === this.xs.length) {
      const live = this.end - this.start;
      const size = live * 2 > this.xs.length ? this.xs.length * 2 : this.xs.length;
      const xs = new Float64Array(size);
      const ys = new Float32Array(size);
      xs.set(this.xs.subarray(this.start, this.end));
      ys.set(this.ys.subarray(this.start, this.end));
      this.xs = xs;
      this.ys = ys;
      this.start = 0;
      this.end = live;
    }
    this.xs[this.end] = x;
    this.ys[this.end++] = y;
  }

  /** Moves every x by `dx` (a better estimate of the server's clock). */
  shift(dx) {
    for (let i = this.start; i < this.end; i++) this.xs[i] += dx;
  }

  dropBefore(x) {
    while (this.start < this.end && this.xs[this.start] < x) this.start++;
  }

  data() {
    return [this.xs.subarray(this.start, this.end), this.ys.subarray(this.start, this.end)];
  }
}

export class FastChart {
  constructor(root, report, offline) {
    this.select = root.querySelector('[data-testid="fast-channel"]');
    this.windowSelect = root.querySelector('[data-testid="fast-window"]');
    this.rateText = root.querySelector('[data-testid="fast-rate"]');
    this.chartBox = root.querySelector('[data-testid="fast-chart"]');
    this.report = report;
    this.offline = offline;
    /**
     * Counters the tests and the benchmark read: display frames, redraws, samples shown,
     * samples lost, restarts of the buffer's numbering, first and last sequence shown, and
     * where the live samples come from ('server' or 'broker').
     */
    this.stats = { frames: 0, draws: 0, received: 0, gaps: 0, restarts: 0, firstSequence: null, lastSequence: null, source: null };
    this.select.addEventListener('change', () => this.#start());
    // Every display frame the window scrolls on from the newest sample by the time since it
    // arrived (at most a poll or two), so the chart moves smoothly between polls.
    const frame = () => {
      this.stats.frames++;
      if (this.chart && this.latest !== undefined) {
        const span = Number(this.windowSelect.value);
        const plot = this.chart.plot;
        const lead = Math.min((performance.now() - this.latestArrival) / 1000, 0.25);
        const max = this.latest + lead;
        plot.batch(() => {
          if (this.dirty) {
            this.dirty = false;
            this.samples.dropBefore(this.latest - span - 1);
            plot.setData(this.samples.data(), false);
          }
          plot.setScale('x', { min: max - span, max });
        });
        this.stats.draws++;
      }
      requestAnimationFrame(frame);
    };
    requestAnimationFrame(frame);
    setInterval(() => this.#showRate(), 500);
  }

  attach(client, channels, feed = null) {
    this.client = client;
    this.feed = feed;
    const previous = this.select.value;
    this.select.replaceChildren(new Option('–', ''), ...channels.filter((c) => c.readable).map((c) => new Option(c.id, c.number)));
    if ([...this.select.options].some((o) => o.value === previous)) this.select.value = previous;
    this.#start();
  }

  detach() {
    this.client = null;
    this.feed = null;
    this.abort?.abort();
    if (!this.arrivals) return;
    // The chart stops where the connection ended and says so.
    this.arrivals = null;
    this.chartBox.classList.add('stale');
    this.rateText.dataset.rate = '0';
    this.rateText.textContent = `not live since ${new Date().toLocaleTimeString()}: no connection (${this.stats.received} samples received)`;
  }

  async #start() {
    this.abort?.abort();
    const client = this.client;
    const feed = this.feed;
    const channel = Number(this.select.value);
    if (!channel) return;
    if (!client) return this.offline('Show live samples');
    const abort = (this.abort = new AbortController());
    const id = this.select.selectedOptions[0].textContent;
    this.chart?.destroy();
    this.chartBox.classList.remove('stale');
    this.chart = new Chart(this.chartBox, { labels: [id] });
    this.samples = new SampleWindow();
    this.latest = undefined;
    this.arrivals = [];
    Object.assign(this.stats, { received: 0, gaps: 0, restarts: 0, firstSequence: null, lastSequence: null, source: null });
    const clock = (this.clock = new ServerClock());
    let lastTick = null; // tick of the newest sample shown
    let ms = 0; // the same, unwrapped: milliseconds since the first sample, across tick wrap-around
    let offset = 0; // calendar milliseconds minus `ms`, as the shown samples were placed

    const show = (sequences, times, values, gap = 0) => {
      const n = values.length;
      if (n === 0) return;
      for (let i = 0; i < n; i++) {
        if (lastTick !== null) ms += (times[i] - lastTick) >>> 0;
        lastTick = times[i];
        this.samples.push((offset + ms) / 1000, values[i]);
      }
      this.latest = (offset + ms) / 1000;
      this.latestArrival = performance.now();
      this.stats.received += n;
      this.stats.gaps += gap;
      this.stats.firstSequence ??= sequences[0];
      this.stats.lastSequence = sequences[n - 1];
      this.arrivals?.push([performance.now(), n]);
      this.dirty = true;
    };
    // One batch: the newest `count` samples and the server's calendar time just after them.
    const read = (count) =>
      client.batch((b) => {
        b.readFastSamples(channel, FastFlags.withTime, count, 0);
        b.readValue(0); // channel 0: the server's time, no device involved
      });
    const observe = (fast, now) => {
      if (fast.count === 0 || lastTick === null) return;
      clock.observe(ms + ((fast.times[0] - lastTick) | 0), now.time);
      const dx = clock.offset - offset;
      if (dx === 0) return;
      offset = clock.offset;
      this.samples.shift(dx / 1000);
      if (this.latest !== undefined) this.latest += dx / 1000;
      this.dirty = true;
    };

    try {
      const [held, now] = await read(HELD_SAMPLES);
      if (abort.signal.aborted) return;
      if (held.count > 0) {
        const { sequences, times, values } = oldestFirst(held);
        show(sequences, times, values);
        this.arrivals = []; // what was held says nothing about the rate
        observe(held, now);
      }
      this.#syncClock(abort.signal, read, observe, clock);
      let since = held.count > 0 ? (held.newest + 1) >>> 0 : undefined;
      if (feed && (await feed.ready()) && !abort.signal.aborted) {
        this.stats.source = 'broker';
        since = await this.#follow(feed, id, { client, channel, signal: abort.signal, since, show });
        if (abort.signal.aborted) return;
      }
      this.stats.source = 'server';
      for await (const batch of client.poll(channel, { signal: abort.signal, since })) {
        if (abort.signal.aborted) break;
        if (batch.restarted) this.stats.restarts++;
        show(batch.sequences, batch.times, batch.values, batch.gap);
        if (clock.offset === null) observe(...(await read(1)));
      }
    } catch (error) {
      if (!abort.signal.aborted && client.connected) this.report(error);
    }
  }

  // Shows the broker's batches of the channel from sequence `since` on until `signal` or
  // the feed falls silent; returns the sequence of the next sample wanted. Samples the
  // broker did not bring (those before the subscription took effect, or lost on the way)
  // are read from the server's buffer, so only what that no longer holds counts as a gap.
  async #follow(feed, id, { client, channel, signal, since, show }) {
    const quiet = new AbortController();
    const stop = () => quiet.abort();
    signal.addEventListener('abort', stop, { once: true });
    const watch = setInterval(() => feed.fresh || stop(), FEED_CHECK_MS);
    let next = since;
    try {
      for await (const batch of feed.fast(id, { signal: quiet.signal })) {
        let { sequences, times, values } = batch;
        const missing = next === undefined ? 0 : (sequences[0] - next) >>> 0;
        if (missing > 0 && missing < HALF_CIRCLE) {
          const fill = await client.readFastSamples(channel, FastFlags.since | FastFlags.withTime, next, 0);
          if (signal.aborted) break;
          if (fill.count > 0) {
            const held = oldestFirst(fill);
            show(held.sequences, held.times, held.values, (held.sequences[0] - next) >>> 0);
            next = (fill.newest + 1) >>> 0;
          }
        }
        let gap = 0;
        if (next !== undefined) {
          const ahead = (sequences[0] - next) >>> 0;
          const repeated = (next - sequences[0]) >>> 0;
          if (ahead < HALF_CIRCLE) gap = ahead;
          else if (repeated < HALF_CIRCLE) {
            const k = Math.min(repeated, values.length);
            [sequences, times, values] = [sequences.subarray(k), times.subarray(k), values.subarray(k)];
          }
        }
        if (values.length === 0) continue;
        show(sequences, times, values, gap);
        next = (sequences[sequences.length - 1] + 1) >>> 0;
      }
    } finally {
      clearInterval(watch);
      signal.removeEventListener('abort', stop);
    }
    return next;
  }

  // Asks for the server's time now and then while the chart runs.
  async #syncClock(signal, read, observe, clock) {
    try {
      while (!signal.aborted) {
        const wait = this.#syncWait(clock);
        await new Promise((resolve) => {
          const timer = setTimeout(resolve, wait);
          signal.addEventListener('abort', () => (clearTimeout(timer), resolve()), { once: true });
        });
        if (signal.aborted) return;
        observe(...(await read(1)));
      }
    } catch {
      // The poll reports the connection's failures.
    }
  }

  // The next read is timed to reach the server when its second turns by the present
  // estimate, so that each answer halves the interval known to hold the offset.
  #syncWait(clock) {
    if (clock.offset === null || this.latest === undefined) return CLOCK_SYNC_MS;
    if (clock.uncertainty <= CLOCK_GOOD_ENOUGH_MS) return CLOCK_CHECK_MS;
    const now = this.latest * 1000 + (performance.now() - this.latestArrival);
    const wait = 1000 - (now % 1000);
    return wait < CLOCK_SYNC_MS / 4 ? wait + CLOCK_SYNC_MS : wait;
  }

  #showRate() {
    if (!this.arrivals) return;
    const now = performance.now();
    while (this.arrivals.length && this.arrivals[0][0] < now - RATE_WINDOW_MS) this.arrivals.shift();
    const rate = Math.round((this.arrivals.reduce((sum, [, n]) => sum + n, 0) * 1000) / RATE_WINDOW_MS);
    const s = this.stats;
    this.rateText.dataset.rate = String(rate);
    this.rateText.dataset.received = String(s.received);
    this.rateText.dataset.gaps = String(s.gaps);
    this.rateText.innerHTML = '';
    this.rateText.append(`${rate} samples/s, ${s.received} received, `);
    const gap = document.createElement('span');
    gap.textContent = s.gaps === 0 ? 'no gap' : `${s.gaps} samples lost`;
    if (s.gaps) gap.className = 'gap';
    this.rateText.append(gap);
  }
}
