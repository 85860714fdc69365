// Entry point of the lab console: the connect form, the connection state and the
// reconnection with back-off, and the panels that each new connection is handed to.
// Errors of any panel go to a short list in the header; the page stays usable. The access
// token comes from the page address's fragment (a booking page links to "#token=...") or
// the token field; it lives in the page's memory only. An observer also opens the lab's
// live feed from the broker where the site offers one (LiveFeed), which the channel table
// and the fast chart read from. Page thread only.
import { OrvexaClient } from 'orvexa-client';
import { ChannelTable } from './channel-table.js';
import { HistoryPanel } from './history-panel.js';
import { FastChart } from './fast-chart.js';
import { ExperimentsPanel } from './experiments-panel.js';
import { LiveFeed } from './live-feed.js';

const FIRST_RETRY_MS = 500;
const LAST_RETRY_MS = 8000;
const ERRORS_SHOWN = 5;
// The server's answer to a Hello whose token it does not accept.
const NOT_AUTHORISED = 4;

const $ = (id) => document.querySelector(`[data-testid="${id}"]`);
const stateText = $('state');
const errorList = $('errors');

function setState(state, text) {
  stateText.dataset.state = state;
  stateText.textContent = text;
}

// The newest error first; one that repeats the newest (a server that stays away) only
// updates its time and count, so it does not push the others out.
function report(error) {
  const message = error?.message ?? String(error);
  console.warn(message);
  let item = errorList.firstElementChild;
  if (item?.dataset.message === message) {
    item.dataset.repeats = String(Number(item.dataset.repeats) + 1);
  } else {
    item = document.createElement('li');
    item.dataset.message = message;
    item.dataset.repeats = '1';
    errorList.prepend(item);
    while (errorList.children.length > ERRORS_SHOWN) errorList.lastElementChild.remove();
  }
  const time = document.createElement('time');
  time.textContent = new Date().toLocaleTimeString();
  const repeats = Number(item.dataset.repeats);
  item.replaceChildren(time, ` ${message}${repeats > 1 ? ` (${repeats} times)` : ''}`);
}

const OFFLINE_REASONS = {
  disconnected: 'not connected',
  connecting: 'still connecting',
  reconnecting: 'the connection was lost; reconnecting',
  unauthorised: 'not authorised by the server',
  connected: 'the connection is being set up',
};

// What a panel says when it is asked to do something while there is no connection.
function offline(action) {
  report(`${action}: nothing was sent, ${OFFLINE_REASONS[stateText.dataset.state] ?? 'not connected'}`);
}

const panels = [ChannelTable, HistoryPanel, FastChart, ExperimentsPanel].map((Panel) => new Panel(document, report, offline));

class Session {
  wanted = false;
  attempt = 0;
  timer = null;
  client = null;
  feed = null;

  start(url, kind, token) {
    this.stop();
    this.wanted = true;
    this.url = url;
    this.kind = kind;
    this.token = token;
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
    this.#closeFeed();
    setState('disconnected', 'disconnected');
  }

  async #open() {
    setState('connecting', this.attempt === 0 ? `connecting to ${this.url}…` : `reconnecting to ${this.url} (attempt ${this.attempt})…`);
    let client;
    try {
      client = await OrvexaClient.connect(this.url, { kind: this.kind, credential: this.token, timeoutMs: 15000 });
    } catch (error) {
      if (!this.wanted) return;
      report(error);
      if (error.code === NOT_AUTHORISED || error instanceof RangeError) {
        // Trying the same again cannot help (and a refused token counts as a guess against
        // this address): wait for the user.
        this.wanted = false;
        disconnect.disabled = true;
        if (error instanceof RangeError) setState('disconnected', `not connected: ${error.message}`);
        else setState('unauthorised', this.token ? `not authorised: the server refused this token for a ${this.kind}` : 'not authorised: this server needs a token (open the link of your booking)');
        return;
      }
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
      this.#closeFeed();
      if (this.wanted) this.#retry(reason);
    });
    try {
      const channels = await client.listChannels();
      // Observers only: a controller's values and samples come straight from the server.
      const feed = client.kind === 'observer' ? await LiveFeed.open(this.url, report).catch(report) : null;
      if (this.client !== client) return feed?.close();
      this.feed = feed ?? null;
      this.attempt = 0;
      setState('connected', `connected as ${client.kind}, ${channels.length} channels`);
      for (const panel of panels) panel.attach(client, channels, this.feed);
    } catch (error) {
      report(error);
    }
  }

  #closeFeed() {
    this.feed?.close();
    this.feed = null;
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
// The token of a booking link: taken into the field and wiped from the address bar, so it
// is neither in the history nor in a bookmark or a copied address.
const fragment = new URLSearchParams(location.hash.slice(1));
if (fragment.has('token')) {
  form.elements.token.value = fragment.get('token');
  history.replaceState(history.state, '', location.pathname + location.search);
}
form.addEventListener('submit', (event) => {
  event.preventDefault();
  session.start(form.elements.url.value.trim(), form.elements.kind.value, form.elements.token.value.trim());
  disconnect.disabled = false;
});
disconnect.addEventListener('click', () => {
  session.stop();
  disconnect.disabled = true;
});
if (params.has('connect')) form.requestSubmit();

// For tests and benchmarks: the panels and their counters.
window.orvexaConsole = { session, panels, fast: panels[2].stats };
