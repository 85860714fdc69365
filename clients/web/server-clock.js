// The server's calendar time of its millisecond tick. Fast samples carry the server's
// monotonic tick; the server tells calendar time only in whole seconds (ReadValue). Each
// observation "tick u was read no later than second T" bounds the offset between the two
// clocks to a 1 s interval; intersecting them narrows it to about a sample period once a
// second boundary has passed between two observations. A step of the server's clock
// (or a late sample) leaves the intersection empty: the bounds start again from it.
// Used by the fast chart on the page's thread.

export class ServerClock {
  #low = -Infinity; // bounds on (calendar milliseconds - tick)
  #high = Infinity;

  /**
   * @param {number} tick the newest sample's tick in unwrapped milliseconds
   * @param {number} seconds the server's calendar time (s) read just after that sample
   */
  observe(tick, seconds) {
    const low = seconds * 1000 - tick;
    const high = low + 1000;
    if (low > this.#high || high < this.#low) {
      this.#low = low;
      this.#high = high;
      return;
    }
    this.#low = Math.max(this.#low, low);
    this.#high = Math.min(this.#high, high);
  }

  /** Calendar milliseconds minus tick, the middle of what is known; null before any observation. */
  get offset() {
    return Number.isFinite(this.#low) ? (this.#low + this.#high) / 2 : null;
  }

  /** Width of the interval the offset is known to lie in (ms). */
  get uncertainty() {
    return this.#high - this.#low;
  }
}
