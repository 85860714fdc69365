// The history chart: reads a channel's logged values (ReadHistory, modes 0, 1 and 2 with
// their thinning parameters, up to the server's 131072 samples) into a uPlot chart and
// offers what is shown as CSV. Runs on the page's thread; console.js attaches it to each
// new connection.
import { MAX_HISTORY_SAMPLES, windowLimit } from 'orvexa-client';
import { Chart } from './chart.js';
import { csvText, download, localTime } from './csv.js';

const THINNING = [
  [24, 'none'],
  [25, 'one per minute'],
  [26, 'one per 10 minutes'],
  [27, 'one per hour'],
  [28, 'one per 3 hours'],
  [29, 'one per 6 hours'],
  ...Array.from({ length: 24 }, (_, h) => [h, `first in hour ${h}`]),
];

export class HistoryPanel {
  constructor(root, report, offline) {
    this.form = root.querySelector('#history-form');
    this.select = root.querySelector('[data-testid="history-channel"]');
    this.info = root.querySelector('[data-testid="history-info"]');
    this.chartBox = root.querySelector('[data-testid="history-chart"]');
    this.csvButton = root.querySelector('[data-testid="history-csv"]');
    this.report = report;
    this.offline = offline;
    const thinning = this.form.elements.thinning;
    for (const [code, label] of THINNING) thinning.append(new Option(label, code));
    const start = new Date(Date.now() - 86400000);
    start.setMinutes(start.getMinutes() - start.getTimezoneOffset());
    this.form.elements.start.value = start.toISOString().slice(0, 19);
    const mode = this.form.elements.mode;
    mode.addEventListener('change', () => (this.form.dataset.mode = mode.value));
    this.form.dataset.mode = mode.value;
    this.form.addEventListener('submit', (event) => {
      event.preventDefault();
      this.load();
    });
    this.csvButton.addEventListener('click', () => this.#csv());
  }

  attach(client, channels) {
    this.client = client;
    const previous = this.select.value;
    this.select.replaceChildren(...channels.filter((c) => c.readable).map((c) => new Option(c.id, c.number)));
    if ([...this.select.options].some((o) => o.value === previous)) this.select.value = previous;
  }

  detach() {
    this.client = null;
  }

  /** Reads the history the form describes and charts it. */
  async load() {
    const client = this.client;
    if (!client) return this.offline('Load history');
    const f = this.form.elements;
    const channel = Number(f.channel.value);
    const mode = Number(f.mode.value);
    let spanOrStart = Number(f.span.value);
    let limit = 0;
    if (mode === 1) limit = Number(f.hour.value);
    if (mode === 2) {
      spanOrStart = Math.floor(new Date(f.start.value).getTime() / 1000);
      limit = windowLimit(Number(f.window.value), Number(f.thinning.value));
    }
    const id = this.select.selectedOptions[0]?.textContent ?? String(channel);
    this.info.textContent = `reading ${id}…`;
    const started = performance.now();
    try {
      const h = await client.readHistory(channel, spanOrStart, mode, limit);
      const ms = Math.round(performance.now() - started);
      this.shown = { id, times: h.times, values: h.values };
      this.info.textContent =
        h.count === 0
          ? `${id}: no logged samples in this period`
          : `${id}: ${h.count} points from ${localTime(h.times[0])} to ${localTime(h.times[h.count - 1])} (${ms} ms)` +
            (h.count === MAX_HISTORY_SAMPLES ? ', the most one reply holds' : '');
      this.info.dataset.count = String(h.count);
      this.chart?.destroy();
      this.chart = new Chart(this.chartBox, { labels: [id] });
      this.chart.setData([Float64Array.from(h.times), h.values]);
      this.csvButton.disabled = h.count === 0;
    } catch (error) {
      this.info.textContent = `${id}: failed`;
      this.report(error);
    }
  }

  #csv() {
    const s = this.shown;
    if (!s) return;
    const rows = Array.from(s.times, (t, i) => [t, localTime(t), s.values[i]]);
    download(`${s.id}-history.csv`, csvText(['time', 'local_time', s.id], rows));
  }
}
