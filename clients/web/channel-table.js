// The channel table with live values and write controls, and the control panel (own state,
// waiting time, the controllers' addresses). While connected it polls every readable
// channel, ControlStatus and ListControllers in one BatchReplies message twice a second;
// an observer whose lab publishes to a broker takes the values from its live feed instead
// while that delivers, and asks the server for the control state only. Write controls are enabled only for a controller that ControlStatus says is in control.
// When the connection is lost the last values stay, greyed and marked as not live, until
// a new connection brings fresh ones. Runs on the page's thread; console.js attaches it to
// each new connection.

const POLL_MS = 500;
const BATCH_LIMIT = 250; // BatchReplies takes at most 255 requests

export function formatValue(v) {
  if (!Number.isFinite(v)) return String(v);
  return String(Number(v.toPrecision(6)));
}

// The protocol tells a client whether it is in control and how long its turn or its wait
// lasts, and lists the controllers in queue order, but not which of them it is: a waiting
// client knows only that it is behind the first.
function controlText(kind, status, queueLength) {
  if (kind === 'observer') return 'observer: watching only';
  if (status.state === -1) return 'not registered';
  const queue = queueLength > 1 ? `, ${queueLength} controllers in the queue` : '';
  if (status.state === 0)
    return (status.seconds === null ? 'in control (no time limit)' : `in control, turn ends in ${status.seconds} s`) + (queueLength > 1 && status.seconds !== null ? ', first in the queue' : '') + queue;
  return (status.seconds === null ? 'waiting for control' : `waiting for control, about ${status.seconds} s`) + queue;
}

export class ChannelTable {
  constructor(root, report) {
    this.table = root.querySelector('[data-testid="channels"]');
    this.body = this.table.querySelector('tbody');
    this.controlState = root.querySelector('[data-testid="control-state"]');
    this.controllers = root.querySelector('[data-testid="controllers"]');
    this.staleNote = root.querySelector('[data-testid="channels-stale"]');
    this.report = report;
    this.generation = 0;
    this.lastUpdate = null; // page time of the last values received
  }

  attach(client, channels, feed = null) {
    const generation = ++this.generation;
    this.client = client;
    this.feed = feed;
    this.channels = channels;
    this.inControl = false;
    // What the last connection showed stays (marked stale) until this one's first answer.
    const previous = new Map([...this.body.rows].map((row) => [row.dataset.channel, row]));
    this.cells = new Map();
    this.body.replaceChildren();
    for (const ch of channels) {
      const row = document.createElement('tr');
      row.dataset.channel = ch.id;
      row.innerHTML = '<td class="id"></td><td class="description"></td><td class="rw"></td><td class="value">–</td><td class="time"></td><td class="set"></td>';
      row.querySelector('.id').textContent = ch.id;
      row.querySelector('.description').textContent = ch.description;
      row.querySelector('.rw').textContent = `${ch.readable ? 'R' : '-'}${ch.writable ? 'W' : '-'}`;
      const value = row.querySelector('.value');
      value.dataset.testid = `value-${ch.id}`;
      const cells = { row, value, time: row.querySelector('.time') };
      const before = previous.get(ch.id);
      if (before?.classList.contains('stale')) {
        row.classList.add('stale');
        value.textContent = before.querySelector('.value').textContent;
        cells.time.textContent = before.querySelector('.time').textContent;
      }
      if (ch.writable) {
        const form = document.createElement('form');
        form.innerHTML = '<input type="number" step="any" required> <button type="submit">Set</button>';
        const input = form.querySelector('input');
        const button = form.querySelector('button');
        input.dataset.testid = `write-${ch.id}`;
        button.dataset.testid = `write-${ch.id}-set`;
        input.disabled = button.disabled = true;
        form.addEventListener('submit', (event) => {
          event.preventDefault();
          this.#write(ch, Number(input.value));
        });
        row.querySelector('.set').append(form);
        cells.write = [input, button];
      }
      this.cells.set(ch.number, cells);
      this.body.append(row);
    }
    this.#poll(generation);
  }

  detach() {
    this.generation++;
    this.client = null;
    this.feed = null;
    this.#setWritable(false);
    this.controlState.textContent = '–';
    if (this.lastUpdate === null) return;
    for (const row of this.body.rows) row.classList.add('stale');
    this.controllers.classList.add('stale');
    this.staleNote.textContent = `Not live since ${this.lastUpdate.toLocaleTimeString()}: no connection. The greyed values are the last ones received; each row shows the server's time of its value.`;
    this.staleNote.hidden = false;
  }

  async #write(channel, value) {
    const client = this.client;
    if (!client || !this.inControl) return this.report(`Set ${channel.id}: nothing was sent, ${client ? 'this client is not in control' : 'not connected'}`);
    try {
      await client.writeValue(channel.number, value);
      if (channel.readable) this.#show(channel.number, await client.readValue(channel.number));
    } catch (error) {
      this.report(error);
    }
  }

  #show(number, { value, time }) {
    const cells = this.cells.get(number);
    if (!cells) return;
    cells.value.textContent = formatValue(value);
    cells.time.textContent = new Date(time * 1000).toLocaleTimeString();
  }

  #setWritable(on) {
    this.inControl = on;
    for (const cells of this.cells?.values() ?? []) if (cells.write) for (const el of cells.write) el.disabled = !on;
  }

  async #poll(generation) {
    const readable = this.channels.filter((c) => c.readable);
    while (generation === this.generation && this.client?.connected) {
      const client = this.client;
      const started = performance.now();
      const live = this.feed?.fresh ? this.feed.latest : null;
      const polled = live ? [] : readable;
      try {
        const groups = [];
        for (let i = 0; i < polled.length; i += BATCH_LIMIT) groups.push(polled.slice(i, i + BATCH_LIMIT));
        if (groups.length === 0) groups.push([]);
        const replies = await Promise.all(
          groups.map((group, g) =>
            client.batch((b) => {
              for (const ch of group) b.readValue(ch.number);
              if (g === 0) {
                b.controlStatus();
                b.listControllers();
              }
            }),
          ),
        );
        if (generation !== this.generation) return;
        replies.forEach((reply, g) => groups[g].forEach((ch, i) => this.#show(ch.number, reply[i])));
        if (live) for (const ch of readable) if (live.values.has(ch.number)) this.#show(ch.number, { value: live.values.get(ch.number), time: live.time });
        this.table.dataset.source = live ? 'broker' : 'server';
        this.lastUpdate = new Date();
        this.staleNote.hidden = true;
        for (const row of this.body.rows) row.classList.remove('stale');
        this.controllers.classList.remove('stale');
        const first = replies[0];
        const status = first[groups[0].length];
        const addresses = first[groups[0].length + 1];
        this.controlState.textContent = controlText(client.kind, status, addresses.length);
        this.controlState.dataset.state = String(status.state);
        this.#setWritable(client.kind === 'controller' && status.state === 0);
        this.controllers.replaceChildren(
          ...addresses.map((a, i) => {
            const li = document.createElement('li');
            li.textContent = i === 0 ? `${a} (first in queue)` : a;
            return li;
          }),
        );
      } catch (error) {
        if (client.connected) this.report(error);
        else return;
      }
      const wait = POLL_MS - (performance.now() - started);
      if (wait > 0) await new Promise((resolve) => setTimeout(resolve, wait));
    }
  }
}
