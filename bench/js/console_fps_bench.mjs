// The lab console charting a channel fast-sampled at 1000 Hz in headless Chromium, through
// nginx as in production: display frames per second against a blank page's in the same
// browser and run (the display rate), and the share of the server's samples the page
// received (by their sequence numbers) with the rate it received them at, over a measured
// stretch of 10 s by default. (The browser test checks only that every sample arrived.)
// Needs build/orvexa and build/Simulator.ldp; npm packages from scripts/install-js-deps.sh.
// Usage: node bench/js/console_fps_bench.mjs [seconds]
import fs from 'node:fs';
import path from 'node:path';
import { freePort, launchChromium, serverConfig, serverFolder, startNginx, startServer, tempDir } from '../../clients/test/harness.mjs';

const seconds = Number(process.argv[2] ?? 10);
const dir = tempDir('fps-bench');
const folder = serverFolder(path.join(dir, 'server'), serverConfig({ fastHz: 1000 }));
const serverPort = await freePort();
const webPort = await freePort();
let server = null;
let nginx = null;
let browser = null;

// Animation frames a page gets in `ms` milliseconds.
const countFrames = (ms) =>
  new Promise((resolve) => {
    let frames = 0;
    const end = performance.now() + ms;
    const step = (t) => (t < end ? (frames++, requestAnimationFrame(step)) : resolve(frames));
    requestAnimationFrame(step);
  });

try {
  server = await startServer(folder, serverPort);
  nginx = await startNginx(path.join(dir, 'nginx'), { port: webPort, serverPort });
  browser = await launchChromium();
  const page = await browser.newPage({ viewport: { width: 1500, height: 1100 } });
  await page.goto('about:blank');
  const blankFps = (await page.evaluate(countFrames, seconds * 1000)) / seconds;

  await page.goto(`http://127.0.0.1:${webPort}/?connect`);
  await page.waitForSelector('[data-testid="state"][data-state="connected"]', { timeout: 15000 });
  await page.getByTestId('fast-window').selectOption('10');
  await page.getByTestId('fast-channel').selectOption({ label: 'Simulator_Sine' });
  // Warm-up: the window fills, the chart reaches its full 10 s of points.
  await page.waitForFunction(() => window.orvexaConsole.fast.received > 11000, null, { timeout: 30000 });
  const before = await page.evaluate(() => ({ ...window.orvexaConsole.fast }));
  const frames = await page.evaluate(countFrames, seconds * 1000);
  const after = await page.evaluate(() => ({ ...window.orvexaConsole.fast }));

  const fps = frames / seconds;
  const draws = (after.draws - before.draws) / seconds;
  const received = after.received - before.received;
  const produced = after.lastSequence - before.lastSequence;
  console.log(`console, Simulator_Sine at 1000 Hz, 10 s window, measured over ${seconds} s:`);
  console.log(`  blank page            ${blankFps.toFixed(1)} frames/s (the display rate here)`);
  console.log(`  console               ${fps.toFixed(1)} frames/s, ${draws.toFixed(1)} chart redraws/s  ratio ${(fps / blankFps).toFixed(3)}  (target: >= 55 frames/s)`);
  console.log(`  samples               ${received} received of ${produced} sampled, lost ${after.gaps - before.gaps}  ratio ${(received / produced).toFixed(4)}  (target: >= 0.99)`);
  console.log(`  rate                  ${(received / seconds).toFixed(0)} samples/s received, ${(produced / seconds).toFixed(0)}/s sampled by the server  ratio ${(received / produced).toFixed(4)}`);
} finally {
  await browser?.close();
  await nginx?.stop();
  await server?.stop();
  fs.rmSync(dir, { recursive: true, force: true });
}
