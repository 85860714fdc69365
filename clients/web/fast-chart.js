// The live fast-sample chart: polls a channel's fast samples without gaps (the library's
// poll helper), keeps a scrolling window of them and redraws the uPlot chart once per
// display frame; shows the rate it receives and any gap.
// Runs on the page's thread; console.js attaches it to each new connection.
import { Chart } from './chart.js';

const RATE_WINDOW_MS = 2000;

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

  dropBefore(x) {
    while (this.start < this.end && this.xs[this.start] < x) this.start++;
  }

  data() {
    return [this.xs.subarray(this.start, this.end), this.ys.subarray(this.start, this.end)];
  }
}

export class FastChart {
  constructor(root, report) {
    this.select = root.querySelector('[data-testid="fast-channel"]');
    this.windowSelect = root.querySelector('[data-testid="fast-window"]');
    this.rateText = root.querySelector('[data-testid="fast-rate"]');
    this.chartBox = root.querySelector('[data-testid="fast-chart"]');
    this.report = report;
    /** Counters the benchmark reads: display frames, redraws, samples, lost samples. */
    this.stats = { frames: 0, draws: 0, received: 0, gaps: 0, firstSequence: null, lastSequence: null };
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

  attach(client, channels) {
    this.client = client;
    const previous = this.select.value;
    this.select.replaceChildren(new Option('–', ''), ...channels.filter((c) => c.readable).map((c) => new Option(c.id, c.number)));
    if ([...this.select.options].some((o) => o.value === previous)) this.select.value = previous;
    this.#start();
  }

  detach() {
    this.client = null;
    this.abort?.abort();
  }

  async #start() {
    this.abort?.abort();
    const client = this.client;
    const channel = Number(this.select.value);
    if (!client || !channel) return;
    const abort = (this.abort = new AbortController());
    const id = this.select.selectedOptions[0].textContent;
    this.chart?.destroy();
    this.chart = new Chart(this.chartBox, { labels: [id] });
    this.samples = new SampleWindow();
    this.latest = undefined;
    this.arrivals = [];
    Object.assign(this.stats, { received: 0, gaps: 0, firstSequence: null, lastSequence: null });
    let lastTick = null;
    let ms = 0; // server milliseconds since the first sample, across tick wrap-around
    let offset = 0; // wall-clock milliseconds of the first sample
    try {
      for await (const batch of client.poll(channel, { signal: abort.signal })) {
        if (abort.signal.aborted) break;
        const n = batch.values.length;
        for (let i = 0; i < n; i++) {
          const tick = batch.times[i];
          if (lastTick === null) offset = Date.now();
          else ms += (tick - lastTick) >>> 0;
          lastTick = tick;
          this.samples.push((offset + ms) / 1000, batch.values[i]);
        }
        this.latest = (offset + ms) / 1000;
        this.latestArrival = performance.now();
        this.stats.received += n;
        this.stats.gaps += batch.gap;
        this.stats.firstSequence ??= batch.sequences[0];
        this.stats.lastSequence = batch.sequences[n - 1];
        this.arrivals.push([performance.now(), n]);
        this.dirty = true;
      }
    } catch (error) {
      if (!abort.signal.aborted && client.connected) this.report(error);
    }
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
