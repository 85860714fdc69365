// An observer's live data from the lab's MQTT broker, reached through the site's /mqtt,
// where the site's /live.json names the lab ({"labId": ..., "path": "/mqtt"}; no file:
// the lab does not publish). The channel table takes its values and the fast chart its
// samples from here while the broker delivers `values` frames; when it does not (no
// file, the broker unreachable, the server not publishing) they read over /ws as a
// controller does. console.js opens one per observer connection and closes it with the
// connection. Runs on the page's thread.
import { OrvexaLive } from 'orvexa-client';

// A feed counts as live while its last `values` frame is younger than this (the server
// sends them at PublishValueRate, 2 Hz by default).
const FRESH_MS = 3000;
// How long a panel that starts waits for the broker's first frame before it polls /ws.
const FIRST_FRAME_MS = 3000;

export class LiveFeed {
  #live;
  #lastFrame = -Infinity; // page time of the last values frame
  #firstFrame;
  #firstFrameArrived;

  /**
   * The feed for a console connected to `serverUrl`, or null where the page's site names
   * no publishing lab or the server is another site's (live.json speaks for its own).
   * @param {string} serverUrl the /ws address the console connects to
   */
  static async open(serverUrl, report) {
    if (new URL(serverUrl).host !== location.host) return null;
    let config;
    try {
      const response = await fetch('/live.json', { cache: 'no-store' });
      if (!response.ok) return null;
      config = await response.json();
    } catch (error) {
      report(`Live data: /live.json unreadable (${error.message}); values are read from the server`);
      return null;
    }
    if (typeof config?.labId !== 'string' || typeof config?.path !== 'string') return null;
    const { default: mqtt } = await import('mqtt');
    const url = `${location.protocol === 'https:' ? 'wss' : 'ws'}://${location.host}${config.path}`;
    return new LiveFeed(OrvexaLive.connect(url, { mqtt, labId: config.labId, connectTimeout: 5000 }), report);
  }

  constructor(live, report) {
    this.#live = live;
    this.#firstFrame = new Promise((resolve) => (this.#firstFrameArrived = resolve));
    live.onValues((frame) => {
      this.#lastFrame = performance.now();
      this.#firstFrameArrived(true);
      this.latest = frame;
    });
    live.onError(({ topic, error }) => topic && report(`Live data: ${error.message}`));
  }

  /** True while the broker delivers the lab's values frames. */
  get fresh() {
    return performance.now() - this.#lastFrame < FRESH_MS;
  }

  /** Resolves true once a values frame has arrived, false if none came in time. */
  ready() {
    return Promise.race([this.#firstFrame, new Promise((resolve) => setTimeout(resolve, FIRST_FRAME_MS, false))]);
  }

  fast(channelId, options) {
    return this.#live.fast(channelId, options);
  }

  close() {
    this.#firstFrameArrived(false);
    this.#live.close();
  }
}
