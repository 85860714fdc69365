// Processes for the browser tests and benchmarks: the real build/orvexa in a folder of its
// own with Simulator.ldp, a private nginx in the foreground (deploy/nginx/local.conf.in
// with the production locations), a self-signed certificate, and headless Chromium. Every
// wait is on an event (a line of output, a port that accepts) with a deadline.
import { spawn, execFileSync } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

export const REPO = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
export const BUILD = process.env.ORVEXA_BUILD ?? path.join(REPO, 'build');

export function tempDir(name) {
  return fs.mkdtempSync(path.join(os.tmpdir(), `orvexa-${name}-`));
}

/** A port nothing listens on now (the kernel's choice). */
export function freePort() {
  return new Promise((resolve, reject) => {
    const s = net.createServer();
    s.on('error', reject);
    s.listen(0, '127.0.0.1', () => {
      const { port } = s.address();
      s.close(() => resolve(port));
    });
  });
}

async function until(what, check, deadlineMs) {
  const end = Date.now() + deadlineMs;
  for (;;) {
    if (await check()) return;
    if (Date.now() > end) throw new Error(`timed out after ${deadlineMs} ms waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

function accepts(port) {
  return new Promise((resolve) => {
    const s = net.connect(port, '127.0.0.1');
    s.on('connect', () => (s.destroy(), resolve(true)));
    s.on('error', () => resolve(false));
  });
}

// A child process whose output is kept; waits on its lines and on its end.
class Child {
  constructor(command, args, options) {
    this.out = '';
    this.err = '';
    this.proc = spawn(command, args, { ...options, stdio: ['ignore', 'pipe', 'pipe'] });
    this.proc.stdout.on('data', (d) => (this.out += d));
    this.proc.stderr.on('data', (d) => (this.err += d));
    this.exited = new Promise((resolve) => this.proc.on('exit', (code, signal) => resolve(code ?? 128)));
    this.done = false;
    this.exited.then(() => (this.done = true));
  }

  waitFor(text, deadlineMs = 20000) {
    return until(`"${text}" from ${this.proc.spawnfile}`, () => {
      if (this.out.includes(text)) return true;
      if (this.done) throw new Error(`${this.proc.spawnfile} ended before "${text}":\n${this.out.slice(-2000)}\n${this.err.slice(-2000)}`);
      return false;
    }, deadlineMs);
  }

  async stop(signal = 'SIGTERM', deadlineMs = 20000) {
    if (this.done) return this.exited;
    this.proc.kill(signal);
    let timer;
    const late = new Promise((_, reject) => (timer = setTimeout(() => reject(new Error(`${this.proc.spawnfile} did not stop in ${deadlineMs} ms`)), deadlineMs)));
    try {
      return await Promise.race([this.exited, late]);
    } finally {
      clearTimeout(timer);
    }
  }
}

/**
 * Configuration of the test server: Sine fast-sampled at `fastHz` and logged; Ramp logged.
 * With `broker` ({port, labId, valueRate}) it publishes live data to that broker.
 */
export function serverConfig({ fastHz = 1000, broker = null } = {}) {
  const publish = broker
    ? `   BrokerUrl = "mqtt://127.0.0.1:${broker.port}"  LabId = "${broker.labId}"  PublishValueRate = ${broker.valueRate ?? 2}\n`
    : '';
  return `OrvexaConfig {
${publish}   LogingInfo = struct {
      Simulator_Sine = struct {
         LogingEnabled = true  LogFileName = "Simulator_Sine.log"  TimeBetweenLogs = 1
         FastLogEnabled = true  FastLogFreq = ${fastHz}  FastLogSize = 10000
      }
      Simulator_Ramp = struct {
         LogingEnabled = true  LogFileName = "Simulator_Ramp.log"  TimeBetweenLogs = 1
         FastLogEnabled = true  FastLogFreq = 100  FastLogSize = 10000
      }
   }
}
`;
}

/**
 * Writes a log file holding `count` records one second apart, ending a few seconds ago,
 * in the server's format (little-endian header next/count/capacity, then time and value
 * x 256); the server continues it. The values make a slow wave, so a chart shows a shape.
 */
export function writeLogFile(file, count) {
  const capacity = 15000000;
  const buffer = Buffer.alloc(12 + 8 * count);
  buffer.writeUInt32LE(count % capacity, 0);
  buffer.writeUInt32LE(count, 4);
  buffer.writeUInt32LE(capacity, 8);
  const last = Math.floor(Date.now() / 1000) - 5;
  for (let i = 0; i < count; i++) {
    const t = last - (count - 1 - i);
    const value = 50 + 40 * Math.sin((2 * Math.PI * t) / 43200) + 5 * Math.sin((2 * Math.PI * t) / 1800);
    buffer.writeUInt32LE(t >>> 0, 12 + 8 * i);
    buffer.writeInt32LE(Math.trunc(value * 256), 16 + 8 * i);
  }
  fs.writeFileSync(file, buffer);
}

/** Prepares a server folder: the simulator plug-in and the configuration. */
export function serverFolder(dir, config = serverConfig()) {
  fs.mkdirSync(dir, { recursive: true });
  fs.copyFileSync(path.join(BUILD, 'Simulator.ldp'), path.join(dir, 'Simulator.ldp'));
  fs.writeFileSync(path.join(dir, 'orvexa.cfg'), config);
  return dir;
}

/** Starts build/orvexa headless in `dir` on `port` and waits for "Server running". */
export async function startServer(dir, port) {
  const env = { ...process.env };
  delete env.ORVEXA_DEBUG;
  const server = new Child(path.join(BUILD, 'orvexa'), ['/headless', '/port', String(port)], { cwd: dir, env });
  try {
    await server.waitFor('Server running');
  } catch (error) {
    await server.stop('SIGKILL');
    throw error;
  }
  return server;
}

/**
 * Starts a private Mosquitto (anonymous viewers, nothing on disk) with a TCP listener on
 * `tcpPort` and a WebSocket listener on `wsPort`, both on 127.0.0.1, in a folder of its own
 * that it can read: as root it runs as `nobody` (Mosquitto would switch to its own user).
 * Waits until both listeners accept. `stop()` ends it.
 */
export async function startBroker({ tcpPort, wsPort, extra = '' }) {
  const dir = tempDir('broker');
  const conf = path.join(dir, 'mosquitto.conf');
  fs.writeFileSync(conf, `persistence false\nallow_anonymous true\nmax_queued_messages 1000\n${extra}` +
    `listener ${tcpPort} 127.0.0.1\nlistener ${wsPort} 127.0.0.1\nprotocol websockets\n`);
  const asRoot = process.getuid?.() === 0;
  if (asRoot) execFileSync('chown', ['-R', 'nobody', dir]);
  // runuser starts nobody with a soft limit of 1024 descriptors, about 1000 viewers:
  // raised to the hard limit as the broker starts.
  const broker = asRoot
    ? new Child('runuser', ['-u', 'nobody', '--', 'sh', '-c', 'ulimit -n "$(ulimit -Hn)"; exec mosquitto -c "$1"', 'sh', conf], {})
    : new Child('mosquitto', ['-c', conf], {});
  try {
    await until('the broker to accept connections', async () => {
      if (broker.done) throw new Error(`mosquitto ended: ${broker.err}`);
      return (await accepts(tcpPort)) && (await accepts(wsPort));
    }, 15000);
  } catch (error) {
    await broker.stop('SIGKILL');
    throw error;
  }
  const stop = broker.stop.bind(broker);
  broker.stop = async (signal) => {
    try {
      return await stop(signal);
    } finally {
      fs.rmSync(dir, { recursive: true, force: true });
    }
  };
  return broker;
}

/** A self-signed certificate for localhost, valid one day. */
export function makeCertificate(dir) {
  const cert = path.join(dir, 'cert.pem');
  const key = path.join(dir, 'key.pem');
  execFileSync('openssl', ['req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-subj', '/CN=localhost', '-days', '1', '-keyout', key, '-out', cert], { stdio: 'ignore' });
  return { cert, key };
}

/**
 * Starts a private nginx in the foreground on 127.0.0.1:`port` in front of the server on
 * `serverPort`, its /mqtt in front of a broker's WebSocket listener on `brokerWsPort` (by
 * default a port nobody listens on), its /live.json naming `labId` where that publishes
 * (404 without); `listenExtra` adds directives to its server block
 * (TLS, for instance).
 */
export async function startNginx(prefix, { port, serverPort, brokerWsPort = 9, labId = null, listenExtra = '' }) {
  fs.mkdirSync(path.join(prefix, 'temp'), { recursive: true });
  const template = fs.readFileSync(path.join(REPO, 'deploy/nginx/local.conf.in'), 'utf8');
  const config = template
    .replaceAll('@PREFIX@', prefix)
    .replaceAll('@SERVER_PORT@', String(serverPort))
    .replaceAll('@BROKER_WS_PORT@', String(brokerWsPort))
    .replaceAll('@LIVE@', labId ? `return 200 '${JSON.stringify({ labId, path: '/mqtt' })}';` : 'return 404;')
    .replaceAll('@CLIENTS@', path.join(REPO, 'clients'))
    .replaceAll('@DEPLOY@', path.join(REPO, 'deploy/nginx'))
    .replaceAll('@LISTEN@', `listen 127.0.0.1:${port}${listenExtra ? ' ssl' : ''};\n${listenExtra}`);
  const file = path.join(prefix, 'nginx.conf');
  fs.writeFileSync(file, config);
  const nginx = new Child('nginx', ['-p', prefix, '-c', file, '-e', path.join(prefix, 'error.log'), '-g', 'daemon off;'], {});
  try {
    await until('nginx to accept connections', () => {
      if (nginx.done) throw new Error(`nginx ended: ${nginx.err}${fs.existsSync(path.join(prefix, 'error.log')) ? fs.readFileSync(path.join(prefix, 'error.log'), 'utf8') : ''}`);
      return accepts(port);
    }, 15000);
  } catch (error) {
    await nginx.stop('SIGKILL');
    throw error;
  }
  return nginx;
}

/** Headless Chromium of the system (Debian's package) through playwright-core. */
export async function launchChromium() {
  const { chromium } = await import('playwright-core');
  const args = process.getuid?.() === 0 ? ['--no-sandbox'] : [];
  return chromium.launch({ executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium', args });
}

export { until };
