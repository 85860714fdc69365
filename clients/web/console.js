// Entry point of the lab console: the connect form, the connection state and the
// reconnection with back-off, and the panels that each new connection is handed to.
// Errors of any panel are shown in the header; the page stays usable. Page thread only.
import { OrvexaClient } from 'orvexa-client';
import { ChannelTable } from './channel-table.js';
import { HistoryPanel } from './history-panel.js';
import { FastChart } from './fast-chart.js';
import { ExperimentsPanel } from './experiments-panel.js';

const FIRST_RETRY_MS = 500;
const LAST_RETRY_MS = 8000;

const $ = (id) => document.querySelector(`[data-testid="${id}"]`);
const stateText = $('state');
const errorText = $('error');

function setState(state, text) {
  stateText.dataset.state = state;
  stateText.textContent = text;
}

function report(error) {
  const message = error?.message ?? String(error);
  errorText.textContent = `${new Date().toLocaleTimeString()}: ${message}`;
  console.warn(message);
}

const panels = [ChannelTable, HistoryPanel, FastChart, ExperimentsPanel].map((Panel) => new Panel(document, report));

class Session {
  wanted = false;
  attempt = 0;
  timer = null;
  client = null;

  start(url, kind) {
    this.stop();
    this.wanted = true;
    this.url = url;
    this.kind = kind;
    this.attempt = 0;
    this.#open();
  }

  stop() {
    this.wanted = false;
    clearTimeout(this.timer);
    const client = this.client;
    this.client = null;
    if (client) {
      for (const panel of panels) panel.detach();
      client.close();
    }
    setState('disconnected', 'disconnected');
  }

  async #open() {
    setState('connecting', this.attempt === 0 ? `connecting to ${this.url}…` : `reconnecting to ${this.url} (attempt ${this.attempt})…`);
    let client;
    try {
      client = await OrvexaClient.connect(this.url, { kind: this.kind, timeoutMs: 15000 });
    } catch (error) {
      if (!this.wanted) return;
      report(error);
      this.#retry(error);
      return;
    }
    if (!this.wanted) {
      client.close();
      return;
    }
    this.client = client;
    client.closed.then((reason) => {
      if (this.client !== client) return;
      this.client = null;
      for (const panel of panels) panel.detach();
      if (this.wanted) this.#retry(reason);
    });
    try {
      const channels = await client.listChannels();
      this.attempt = 0;
      setState('connected', `connected as ${client.kind}, ${channels.length} channels`);
      for (const panel of panels) panel.attach(client, channels);
    } catch (error) {
      report(error);
    }
  }

  #retry(reason) {
    const delay = Math.min(FIRST_RETRY_MS * 2 ** this.attempt, LAST_RETRY_MS);
    this.attempt++;
    setState('reconnecting', `connection lost (${reason?.message ?? reason}); reconnecting in ${(delay / 1000).toFixed(1)} s`);
    clearTimeout(this.timer);
    this.timer = setTimeout(() => this.#open(), delay);
  }
}

const session = new Session();
const form = document.querySelector('#connect-form');
const disconnect = $('disconnect');
const params = new URLSearchParams(location.search);
form.elements.url.value = params.get('url') ?? `${location.protocol === 'https:' ? 'wss' : 'ws'}://${location.host}/ws`;
if (params.get('kind')) form.elements.kind.value = params.get('kind');
form.addEventListener('submit', (event) => {
  event.preventDefault();
  session.start(form.elements.url.value.trim(), form.elements.kind.value);
  disconnect.disabled = false;
});
disconnect.addEventListener('click', () => {
  session.stop();
  disconnect.disabled = true;
});
if (params.has('connect')) form.requestSubmit();

// For tests and benchmarks: the panels and their counters.
window.orvexaConsole = { session, panels, fast: panels[2].stats };
