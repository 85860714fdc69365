// Experiments and bursts: starts and stops a recording of the chosen channels, lists the
// experiments, reads one back into a chart and offers it as CSV; runs a named burst and
// charts its eight columns. Runs on the page's thread; console.js attaches it to each new
// connection.
import { FIRST_BURST_SLOT } from 'orvexa-client';
import { Chart } from './chart.js';
import { csvText, download, localTime } from './csv.js';

const BURST_COLUMNS = 8;

export class ExperimentsPanel {
  constructor(root, report, offline) {
    this.form = root.querySelector('#recording-form');
    this.checks = root.querySelector('[data-testid="record-channels"]');
    this.status = root.querySelector('[data-testid="experiment-status"]');
    this.list = root.querySelector('[data-testid="experiments"] tbody');
    this.info = root.querySelector('[data-testid="experiment-info"]');
    this.csvButton = root.querySelector('[data-testid="csv"]');
    this.chartBox = root.querySelector('[data-testid="experiment-chart"]');
    this.report = report;
    this.offline = offline;
    this.bursts = new Set(); // ids returned by RunBurst: read through the burst columns
    this.form.addEventListener('submit', (event) => {
      event.preventDefault();
      this.#run(() => this.#startRecording());
    });
    root.querySelector('[data-testid="experiment-stop"]').addEventListener('click', () => this.#run(() => this.#stopRecording()));
    root.querySelector('#burst-form').addEventListener('submit', (event) => {
      event.preventDefault();
      this.#run(() => this.#runBurst(event.target.elements));
    });
    this.csvButton.addEventListener('click', () => this.#csv());
  }

  attach(client, channels) {
    this.client = client;
    this.channels = channels;
    const chosen = new Set([...this.checks.querySelectorAll('input:checked')].map((c) => c.value));
    this.checks.replaceChildren(
      ...channels
        .filter((c) => c.readable)
        .map((c) => {
          const label = document.createElement('label');
          label.innerHTML = '<input type="checkbox"> ';
          const box = label.querySelector('input');
          box.value = c.id;
          box.dataset.testid = `record-${c.id}`;
          box.checked = chosen.has(c.id);
          label.append(c.id);
          return label;
        }),
    );
    this.#run(() => this.refresh());
  }

  detach() {
    this.client = null;
  }

  async #run(action) {
    try {
      await action();
    } catch (error) {
      this.report(error);
    }
  }

  async #startRecording() {
    const client = this.client;
    if (!client) return this.offline('Start recording');
    const ids = [...this.checks.querySelectorAll('input:checked')].map((c) => c.value);
    const channels = this.channels.filter((c) => ids.includes(c.id)).map((c) => c.number);
    if (channels.length === 0) {
      this.status.textContent = 'choose at least one channel';
      return;
    }
    const f = this.form.elements;
    const id = await client.startRecording({ channels, capacity: Number(f.capacity.value), ring: f.ring.checked });
    this.status.textContent = id === null ? 'the server refused to start a recording' : `recording experiment ${id}`;
    await this.refresh();
  }

  async #stopRecording() {
    const client = this.client;
    if (!client) return this.offline('Stop recording');
    const id = await client.stopRecording();
    this.status.textContent = id === null ? 'nothing was recording' : `experiment ${id} stopped`;
    await this.refresh();
    if (id !== null) await this.read(id);
  }

  async #runBurst(fields) {
    const client = this.client;
    if (!client) return this.offline('Run burst');
    this.status.textContent = `running burst ${fields.name.value}…`;
    const id = await client.runBurst(fields.name.value, Number(fields.duration.value));
    this.bursts.add(id);
    this.status.textContent = `burst ${fields.name.value} stored as experiment ${id}`;
    await this.refresh();
    await this.read(id);
  }

  /** Lists the experiments of owner key 0 (the console's recordings and all bursts). */
  async refresh() {
    const client = this.client;
    if (!client) return;
    const experiments = await client.listExperiments(0, 0, 0);
    this.list.replaceChildren(
      ...experiments.map((e) => {
        const row = document.createElement('tr');
        row.dataset.id = String(e.id);
        row.innerHTML = '<td></td><td></td><td></td><td></td><td></td><td><button type="button">Read</button></td>';
        const cells = row.querySelectorAll('td');
        cells[0].textContent = String(e.id);
        cells[1].textContent = e.recording ? 'recording' : this.bursts.has(e.id) ? 'burst' : 'finished';
        cells[2].textContent = localTime(e.startTime);
        cells[3].textContent = e.recording ? '' : localTime(e.stopTime);
        cells[4].textContent = e.address;
        const button = row.querySelector('button');
        button.dataset.testid = `read-${e.id}`;
        button.addEventListener('click', () => this.#run(() => this.read(e.id)));
        return row;
      }),
    );
  }

  /** Reads every channel of an experiment (the eight columns of a burst) and charts it. */
  async read(id) {
    const client = this.client;
    if (!client) return this.offline(`Read experiment ${id}`);
    const burst = this.bursts.has(id);
    const slots = burst
      ? Array.from({ length: BURST_COLUMNS }, (_, k) => ({ channel: FIRST_BURST_SLOT + k, name: `burst_${k}` }))
      : this.channels.filter((c) => c.readable).map((c) => ({ channel: c.number, name: c.id }));
    const results = await client.readExperiment(id, slots.map(({ channel }) => ({ channel })));
    if (results === null) {
      this.info.textContent = `experiment ${id} no longer exists`;
      return;
    }
    const names = new Map(slots.map((s) => [s.channel, s.name]));
    const columns = results.filter((r) => r.stored !== null).map((r) => ({ ...r, name: names.get(r.channel) }));
    this.shown = { id, burst, columns };
    this.info.textContent = `experiment ${id}: ` + columns.map((c) => `${c.name} ${c.values.length} samples`).join(', ');
    this.info.dataset.id = String(id);
    this.csvButton.disabled = columns.length === 0;
    // Recording times are in 1/100 ms; the chart shows seconds from the start.
    const scale = burst ? 1 : 100000;
    this.chart?.destroy();
    this.chart = null;
    if (columns.length === 0) return;
    const longest = columns.reduce((a, b) => (b.values.length > a.values.length ? b : a));
    const xs = Float64Array.from(longest.times, (t) => t / scale);
    // Channels sampled alike share the times; a shorter column ends early.
    const ys = columns.map((c) => (c.values.length === xs.length ? c.values : Array.from(xs, (_, i) => (i < c.values.length ? c.values[i] : null))));
    this.chart = new Chart(this.chartBox, { labels: columns.map((c) => c.name), time: false, xLabel: burst ? 'time' : 's' });
    this.chart.setData([xs, ...ys]);
  }

  #csv() {
    const s = this.shown;
    if (!s) return;
    const rows = [];
    for (const c of s.columns)
      for (let i = 0; i < c.values.length; i++) rows.push([c.name, c.sequences[i], s.burst ? c.times[i] : c.times[i] / 100, c.values[i]]);
    download(`experiment-${s.id}.csv`, csvText(['channel', 'sequence', s.burst ? 'time' : 'time_ms', 'value'], rows));
  }
}
