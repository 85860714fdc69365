// A uPlot chart that fills its container's width and follows it when it resizes. Used by
// the history, fast-sample and experiment panels on the page's thread.
import uPlot from 'uplot';

const COLORS = ['#1f6feb', '#d1242f', '#1a7f37', '#9a6700', '#8250df', '#bf3989', '#0a7d8c', '#57606a'];

export class Chart {
  /**
   * @param {HTMLElement} container
   * @param {{labels: string[], time?: boolean, height?: number, xLabel?: string}} options
   */
  constructor(container, { labels, time = true, height = 240, xLabel } = {}) {
    this.container = container;
    container.replaceChildren();
    const width = Math.max(container.clientWidth, 300);
    const series = [{ label: xLabel ?? (time ? 'time' : 'x') }];
    labels.forEach((label, i) => series.push({ label, stroke: COLORS[i % COLORS.length], width: 1, points: { show: false } }));
    this.plot = new uPlot(
      { width, height, series, scales: { x: { time } }, legend: { live: false }, cursor: { drag: { x: true, y: false } } },
      [new Float64Array(0), ...labels.map(() => new Float64Array(0))],
      container,
    );
    this.resize = new ResizeObserver(() => {
      const w = Math.max(container.clientWidth, 300);
      if (w !== this.plot.width) this.plot.setSize({ width: w, height });
    });
    this.resize.observe(container);
  }

  setData(data) {
    this.plot.setData(data);
  }

  destroy() {
    this.resize.disconnect();
    this.plot.destroy();
    this.container.replaceChildren();
  }
}
