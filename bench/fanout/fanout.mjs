// Live data for a class: the real server publishing to a private Mosquitto, viewers
// connecting over WebSocket through nginx at /mqtt, spread over several load-generator
// processes (build/bench/viewer_swarm, one epoll thread each; with --node, Node processes
// on the `mqtt` package, which saturate long before the broker path does). Each viewer
// takes `values` and the 1 kHz `fast/Simulator_Sine`. Prints:
//  - samples delivered by sequence number (every viewer, every sample from its first to
//    its last batch), and sample-to-viewer latency (receipt minus the batch's send time,
//    plus up to one 50 ms batch period for its oldest sample);
//  - the connect storm: time from each viewer's connect to holding the retained status,
//    channels and values;
//  - Orvexa's CPU, threads and descriptors with the viewers against the same stretch with
//    none (the ratio), the broker's CPU and memory, nginx's CPU, and what the generators
//    cost.
// Usage (bench/fanout/run.sh raises the descriptor limit first):
//   node bench/fanout/fanout.mjs [--node] [--direct] [--values=HZ] [viewers=2000] [seconds=60]
//                                [generators=2]
// --direct connects the viewers to the broker's WebSocket listener without nginx, to tell
// nginx's share of the cost from the broker's; --values sets PublishValueRate (default 10,
// the server's own default is 2).
// With --outage [seconds=60]: the broker stopped that long while the server samples the
// sine at 3999 Hz and publishes it. A second server without a broker samples the same at
// the same time: the machine's own figure for the sampler, so the publisher's cost shows
// apart from a busy or virtual machine waking the sampler late. Prints both servers' rates
// with the broker up and during the outage (from the sequence numbers and sample times of
// ReadFastSamples, read gap-free over the direct port), the time from the broker's return
// until a subscriber gets a new `values` frame, and the server's memory before, at its
// highest during, and after the outage.
//   node bench/fanout/fanout.mjs --outage [seconds=60]
import { spawn, execFileSync } from 'node:child_process';
import { createRequire } from 'node:module';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import { REPO, freePort, serverConfig, serverFolder, startBroker, startServer, tempDir } from '../../clients/test/harness.mjs';

const mqtt = createRequire(path.join(REPO, 'clients/package.json'))('mqtt');
const LAB = 'bench';
const TICKS = 100; // clock ticks per second in /proc/<pid>/stat (USER_HZ on Linux)

// ---- the Node generator (--node): the same line protocol as build/bench/viewer_swarm -----
if (process.argv[2] === '--generator') {
  const [url, count, stormMs] = [process.argv[3], Number(process.argv[4]), Number(process.argv[5])];
  const prefix = `orvexa/v1/${LAB}/`;
  const latency = new Uint32Array(10001); // ms buckets, the last one for "10 s or more"
  const holds = [];
  const viewers = [];
  let measuring = false;
  for (let i = 0; i < count; i++) {
    setTimeout(() => {
      const v = { first: null, last: null, received: 0, start: performance.now(), retained: new Set(), held: false };
      viewers.push(v);
      const client = mqtt.connect(url, { reconnectPeriod: 0, connectTimeout: 30000, clean: true });
      v.client = client;
      client.on('connect', () => client.subscribe([`${prefix}status`, `${prefix}channels`, `${prefix}values`, `${prefix}fast/Simulator_Sine`]));
      client.on('error', () => {});
      client.on('message', (topic, payload, packet) => {
        const leaf = topic.slice(prefix.length);
        if (!v.held && packet.retain) {
          v.retained.add(leaf);
          if (v.retained.size === 3) {
            v.held = true;
            holds.push(performance.now() - v.start);
          }
        }
        if (leaf !== 'fast/Simulator_Sine' || !measuring) return;
        const first = payload.readUInt32LE(0);
        const n = payload.readUInt32LE(4);
        const sentAt = payload.readDoubleLE(8);
        v.first ??= first;
        v.last = (first + n - 1) >>> 0;
        v.received += n;
        latency[Math.min(10000, Math.max(0, Math.round(Date.now() - sentAt * 1000)))] += n;
      });
    }, (stormMs * i) / count);
  }
  readline.createInterface({ input: process.stdin }).on('line', (line) => {
    if (line === 'measure') measuring = true;
    if (line !== 'stop') return;
    measuring = false;
    let expected = 0;
    let received = 0;
    for (const v of viewers) {
      if (v.first === null) continue;
      expected += ((v.last - v.first) >>> 0) + 1;
      received += v.received;
    }
    const cpu = process.cpuUsage();
    console.log(JSON.stringify({ connected: viewers.filter((v) => v.client.connected).length, expected, received,
      latency: [...latency], holds, errors: 0, closed: 0, cpuSeconds: (cpu.user + cpu.system) / 1e6 }));
    for (const v of viewers) v.client.end(true);
    setTimeout(() => process.exit(0), 500);
  });
  console.log('ready');
} else if (process.argv[2] === '--outage') {
  await outage(Number(process.argv[3] ?? 60));
} else {
  const flags = new Set(process.argv.filter((a) => a.startsWith('--')));
  const valueRate = Number(/^--values=(\d+)$/.exec([...flags].find((f) => f.startsWith('--values=')) ?? '')?.[1] ?? 10);
  await main(process.argv.slice(2).filter((a) => !a.startsWith('--')), flags.has('--node'), flags.has('--direct'), valueRate);
}

function percentile(histogram, p) {
  const total = histogram.reduce((a, b) => a + b, 0);
  let seen = 0;
  for (let ms = 0; ms < histogram.length; ms++) {
    seen += histogram[ms];
    if (seen >= total * p) return ms;
  }
  return histogram.length - 1;
}

function processFigures(pid) {
  const stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ');
  const status = fs.readFileSync(`/proc/${pid}/status`, 'utf8');
  return {
    cpu: (Number(stat[11]) + Number(stat[12])) / TICKS,
    systemCpu: Number(stat[12]) / TICKS,
    // The scheduler's own nanoseconds on a CPU, summed over the threads: finer than the
    // ticks above, which charge whatever runs at a tick (on a kernel without IRQ time
    // accounting, also the softirq work of other processes' loopback traffic).
    threadRun: Object.fromEntries(fs.readdirSync(`/proc/${pid}/task`).map((tid) => {
      try {
        return [tid, Number(fs.readFileSync(`/proc/${pid}/task/${tid}/schedstat`, 'utf8').split(' ')[0]) / 1e9];
      } catch {
        return [tid, 0]; // a thread that ended meanwhile
      }
    })),
    threads: Number(/Threads:\s+(\d+)/.exec(status)[1]),
    rssMb: Number(/VmRSS:\s+(\d+)/.exec(status)[1]) / 1024,
    fds: fs.readdirSync(`/proc/${pid}/fd`).length,
  };
}

async function over(seconds, pid) {
  const before = processFigures(pid);
  await new Promise((r) => setTimeout(r, seconds * 1000));
  const after = processFigures(pid);
  return { core: (after.cpu - before.cpu) / seconds, systemCore: (after.systemCpu - before.systemCpu) / seconds,
    // Per thread, in the order they were started (main, housekeeping, sampler, publisher).
    threadCores: Object.keys(after.threadRun).sort((a, b) => a - b)
      .map((tid) => (after.threadRun[tid] - (before.threadRun[tid] ?? 0)) / seconds),
    threads: after.threads, fds: after.fds, rssMb: after.rssMb };
}

async function until(what, check, ms) {
  const end = Date.now() + ms;
  while (!(await check())) {
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    await new Promise((r) => setTimeout(r, 50));
  }
}

// A generator process speaking lines: "ready" first, then one JSON report after "stop".
function generator(command, args) {
  const proc = spawn(command, args, { stdio: ['pipe', 'pipe', 'inherit'] });
  const lines = readline.createInterface({ input: proc.stdout })[Symbol.asyncIterator]();
  const next = async () => {
    const { value, done } = await lines.next();
    if (done) throw new Error(`${path.basename(command)} ended without reporting`);
    return value;
  };
  return { proc, next, send: (line) => proc.stdin.write(`${line}\n`) };
}

async function main([viewersArg, secondsArg, generatorsArg], node, direct, valueRate) {
  const viewers = Number(viewersArg ?? 2000);
  const seconds = Number(secondsArg ?? 60);
  const generators = Number(generatorsArg ?? 2);
  const swarm = path.join(REPO, 'build/bench/viewer_swarm');
  if (!node && !fs.existsSync(swarm)) throw new Error(`${swarm} is missing: bash scripts/build.sh`);
  const dir = tempDir('fanout');
  const children = [];
  let broker = null;
  const stopAll = () => children.forEach((c) => c.kill('SIGTERM'));
  process.on('exit', stopAll);
  try {
    // The broker, as nobody when root (Mosquitto would switch to its own user otherwise).
    const [tcp, ws, web, serverPort] = [await freePort(), await freePort(), await freePort(), await freePort()];
    const asRoot = process.getuid() === 0;
    broker = await startBroker({ tcpPort: tcp, wsPort: ws });
    // nginx in front, as in production: /mqtt proxied to the broker's WebSocket listener.
    const nginxDir = path.join(dir, 'nginx');
    fs.mkdirSync(path.join(nginxDir, 'temp'), { recursive: true });
    // The production /mqtt location, its upstream this broker's WebSocket listener.
    const mqttLocation = /location = \/mqtt \{[\s\S]*?\n\}/
      .exec(fs.readFileSync(path.join(REPO, 'deploy/nginx/orvexa-locations.conf'), 'utf8'))[0];
    fs.writeFileSync(path.join(nginxDir, 'nginx.conf'), `worker_processes 1;
worker_rlimit_nofile 65536;
pid ${nginxDir}/nginx.pid;
events { worker_connections 16384; }
http {
  access_log off;
  client_body_temp_path ${nginxDir}/temp;
  proxy_temp_path ${nginxDir}/temp;
  upstream orvexa_live { server 127.0.0.1:${ws}; }
  server {
    listen 127.0.0.1:${web};
    ${mqttLocation}
  }
}
`);
    const nginx = spawn('nginx', ['-p', nginxDir, '-c', path.join(nginxDir, 'nginx.conf'), '-e', path.join(nginxDir, 'error.log'), '-g', 'daemon off;'], { stdio: 'ignore' });
    children.push(nginx);
    // The server: the sine at 1 kHz, values at 10 Hz unless --values says otherwise.
    const config = serverConfig({ fastHz: 1000, broker: { port: tcp, labId: LAB, valueRate } });
    const server = await startServer(serverFolder(path.join(dir, 'server'), config), serverPort);
    children.push(server.proc);
    await server.waitFor('Publishing live data');
    const pid = server.proc.pid;

    await new Promise((r) => setTimeout(r, 2000));
    const idle = await over(seconds, pid);
    // As root the broker is runuser's child.
    const brokerPid = asRoot ? Number(execFileSync('pgrep', ['-P', String(broker.proc.pid)]).toString()) : broker.proc.pid;
    const brokerIdle = processFigures(brokerPid);

    // The viewers: the connect storm spreads them over 10 s.
    const per = Math.ceil(viewers / generators);
    const gens = [];
    for (let g = 0; g < generators; g++) {
      const url = `ws://127.0.0.1:${direct ? ws : web}/mqtt`;
      const count = String(Math.min(per, viewers - g * per));
      const gen = node ? generator(process.execPath, [new URL(import.meta.url).pathname, '--generator', url, count, '10000'])
        : generator(swarm, [url, LAB, count, '10000']);
      children.push(gen.proc);
      gens.push(gen);
    }
    await Promise.all(gens.map((g) => g.next())); // "ready"
    await new Promise((r) => setTimeout(r, 12000)); // the storm, and a moment to settle
    gens.forEach((g) => g.send('measure'));
    // Who is busy while measuring: the broker, nginx's workers, the generators.
    const nginxWorkers = execFileSync('pgrep', ['-P', String(nginx.pid)]).toString().trim().split('\n').map(Number);
    const cpuOf = (pids) => pids.reduce((sum, p) => sum + processFigures(p).cpu, 0);
    const genPids = gens.map((g) => g.proc.pid);
    const [brokerBefore, nginxBefore, genBefore] = [processFigures(brokerPid), cpuOf(nginxWorkers), cpuOf(genPids)];
    const loaded = await over(seconds, pid);
    const [brokerAfter, nginxAfter, genAfter] = [processFigures(brokerPid), cpuOf(nginxWorkers), cpuOf(genPids)];
    const reports = await Promise.all(gens.map((g) => { g.send('stop'); return g.next().then(JSON.parse); }));
    await server.stop();
    const publisherLine = /Live data: .*/.exec(server.out)?.[0] ?? 'no publisher summary';

    const latency = new Array(10001).fill(0);
    let expected = 0, received = 0, connected = 0, generatorCpu = 0, errors = 0, closed = 0, pending = 0;
    let firstError = '';
    const holds = [];
    for (const r of reports) {
      r.latency.forEach((n, ms) => (latency[ms] += n));
      expected += r.expected;
      received += r.received;
      connected += r.connected;
      generatorCpu += r.cpuSeconds;
      errors += r.errors;
      closed += r.closed;
      pending += r.pending ?? 0;
      firstError ||= r.firstError ?? '';
      holds.push(...r.holds);
    }
    holds.sort((a, b) => a - b);
    const p99hold = holds.length ? holds[Math.floor(holds.length * 0.99) - 1] ?? holds.at(-1) : NaN;
    console.log(`fanout: ${viewers} viewers (${connected} connected at the end) over ${generators} ${node ? 'Node generators' : 'viewer swarms'}${direct ? ' straight to the broker' : ''}, values at ${valueRate} Hz, ${seconds} s measured`);
    if (errors || closed || pending) console.log(`  viewers not connected: ${errors} ended by an error (first: ${firstError || '-'}), ${closed} closed by the peer, ${pending} still waiting for the connection, the upgrade or CONNACK`);
    console.log(`  delivered: ${received}/${expected} samples (${((100 * received) / Math.max(1, expected)).toFixed(3)} %)`);
    console.log(`  latency from batch send: p50 ${percentile(latency, 0.5)} ms, p99 ${percentile(latency, 0.99)} ms (+ up to 50 ms batching for a batch's oldest sample)`);
    console.log(`  storm: ${holds.length} viewers held status+channels+values, p99 ${p99hold.toFixed(0)} ms after connecting`);
    console.log(`  orvexa: ${idle.core.toFixed(4)} core (${idle.systemCore.toFixed(4)} in the kernel), ${idle.threads} threads, ${idle.fds} fds without viewers; ` +
      `${loaded.core.toFixed(4)} core (${loaded.systemCore.toFixed(4)} in the kernel), ${loaded.threads} threads, ${loaded.fds} fds with them (CPU ratio ${(loaded.core / Math.max(idle.core, 1e-9)).toFixed(3)}; ` +
      `by thread, the scheduler's run time: ${idle.threadCores.map((c) => c.toFixed(4)).join(' ')} -> ` +
      `${loaded.threadCores.map((c) => c.toFixed(4)).join(' ')} core)`);
    console.log(`  broker: ${((brokerAfter.cpu - brokerBefore.cpu) / seconds).toFixed(3)} core, RSS ${brokerIdle.rssMb.toFixed(1)} -> ${brokerAfter.rssMb.toFixed(1)} MB`);
    console.log(`  server: ${publisherLine} (the whole run)`);
    console.log(`  nginx: ${((nginxAfter - nginxBefore) / seconds).toFixed(3)} core (${nginxWorkers.length} workers)`);
    console.log(`  generators: ${((genAfter - genBefore) / seconds).toFixed(3)} core while measuring, ${generatorCpu.toFixed(1)} CPU seconds in all over their whole run (${generators} processes on ${os.cpus().length} cores)`);
  } finally {
    stopAll();
    await broker?.stop();
    await new Promise((r) => setTimeout(r, 500));
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

// Follows a server's fast sine over the direct port: the newest [sequence, tick] and the
// samples the reader lost.
async function followSampler(port, signal) {
  const { OrvexaClient } = await import('../../clients/js/src/index.js');
  const client = await OrvexaClient.connect(`ws://127.0.0.1:${port}/`, { kind: 'observer' });
  const channel = await client.findReadableChannel('Simulator_Sine');
  const state = { client, newest: null, lost: 0 };
  state.done = (async () => {
    for await (const batch of client.poll(channel, { signal, intervalMs: 20 })) {
      state.lost += batch.gap;
      const n = batch.values.length;
      state.newest = [batch.sequences[n - 1], batch.times[n - 1]];
    }
  })().catch(() => {});
  return state;
}

// Samples per second of the server's time between two [sequence, tick] marks, as a share
// of `hz`.
function rateBetween([seq0, tick0], [seq1, tick1], hz) {
  return ((seq1 - seq0) >>> 0) / (((tick1 - tick0) >>> 0) / 1000) / hz;
}

async function outage(seconds) {
  const RATE = 3999;
  const dir = tempDir('outage');
  let broker = null;
  let server = null;
  let plain = null;
  let viewer = null;
  const followers = [];
  const abort = new AbortController();
  try {
    const [tcp, ws, serverPort, plainPort] = [await freePort(), await freePort(), await freePort(), await freePort()];
    broker = await startBroker({ tcpPort: tcp, wsPort: ws });
    const config = serverConfig({ fastHz: RATE, broker: { port: tcp, labId: LAB, valueRate: 10 } });
    server = await startServer(serverFolder(path.join(dir, 'server'), config), serverPort);
    await server.waitFor('Publishing live data');
    plain = await startServer(serverFolder(path.join(dir, 'plain'), serverConfig({ fastHz: RATE })), plainPort);
    const pid = server.proc.pid;

    // Both samplers, followed gap-free over the direct port.
    const live = await followSampler(serverPort, abort.signal);
    const alone = await followSampler(plainPort, abort.signal);
    followers.push(live, alone);

    // A viewer on the broker's TCP port, reconnecting on its own.
    let valuesAt = 0;
    viewer = mqtt.connect(`mqtt://127.0.0.1:${tcp}`, { reconnectPeriod: 200, connectTimeout: 2000 });
    viewer.on('error', () => {});
    viewer.on('connect', () => viewer.subscribe(`orvexa/v1/${LAB}/values`));
    viewer.on('message', () => (valuesAt = performance.now()));
    await until('a values frame', () => valuesAt > 0, 10000);
    await until('fast samples', () => live.newest !== null && alone.newest !== null, 10000);

    // The same stretch with the broker up first.
    const upFrom = [live.newest, alone.newest];
    await new Promise((r) => setTimeout(r, seconds * 1000));
    const up = [rateBetween(upFrom[0], live.newest, RATE), rateBetween(upFrom[1], alone.newest, RATE)];

    const rssBefore = processFigures(pid).rssMb;
    let rssPeak = rssBefore;
    const sampleRss = setInterval(() => (rssPeak = Math.max(rssPeak, processFigures(pid).rssMb)), 250);
    const downFrom = [live.newest, alone.newest];
    const lostBefore = live.lost;
    await broker.stop();
    broker = null;
    await new Promise((r) => setTimeout(r, seconds * 1000));
    const samples = (live.newest[0] - downFrom[0][0]) >>> 0;
    const spanSeconds = ((live.newest[1] - downFrom[0][1]) >>> 0) / 1000;
    const down = [rateBetween(downFrom[0], live.newest, RATE), rateBetween(downFrom[1], alone.newest, RATE)];
    const lostDuring = live.lost - lostBefore;
    broker = await startBroker({ tcpPort: tcp, wsPort: ws });
    const back = performance.now();
    await until('a values frame after the broker returned', () => valuesAt > back, 30000);
    const republished = (performance.now() - back) / 1000;
    await new Promise((r) => setTimeout(r, 2000));
    clearInterval(sampleRss);
    const rssAfter = processFigures(pid).rssMb;

    const verdict = (ok) => (ok ? 'PASS' : 'FAIL');
    const pct = (x) => `${(100 * x).toFixed(2)} %`;
    console.log(`broker outage: stopped for ${seconds} s while the sine is sampled at ${RATE} Hz and published`);
    console.log(`  sampler during the outage: ${samples} samples over ${spanSeconds.toFixed(3)} s of the server's time, ` +
      `${pct(down[0])} of ${RATE} Hz, ${lostDuring} lost to the reader (target >= 99.5 %)  ${verdict(down[0] >= 0.995)}`);
    console.log(`  the same stretch on a server without a broker, sampling at the same time: ${pct(down[1])} ` +
      `(publishing server x${(down[0] / down[1]).toFixed(3)})`);
    console.log(`  with the broker up before: ${pct(up[0])} publishing, ${pct(up[1])} without a broker ` +
      `(x${(up[0] / up[1]).toFixed(3)})`);
    console.log(`  publishing again ${republished.toFixed(2)} s after the broker accepted connections (target <= 5 s)  ${verdict(republished <= 5)}`);
    console.log(`  server memory: ${rssBefore.toFixed(1)} MB before, ${rssPeak.toFixed(1)} MB at most during, ` +
      `${rssAfter.toFixed(1)} MB after (target: at most 16 MB above before, the publisher's 8 MB bound and slack)  ${verdict(rssPeak - rssBefore <= 16)}`);
    abort.abort();
    await Promise.all(followers.map((f) => f.done));
    await server.stop();
    const summary = /Live data: .*/.exec(server.out)?.[0] ?? 'no publisher summary';
    const told = `${server.out}\n${server.err}`.split('\n').filter((l) => /[Bb]roker/.test(l));
    console.log(`  server: ${summary}; said:\n    ${told.join('\n    ')}`);
    server = null;
  } finally {
    abort.abort();
    viewer?.end(true);
    followers.forEach((f) => f.client.close());
    await server?.stop();
    await plain?.stop();
    await broker?.stop();
    fs.rmSync(dir, { recursive: true, force: true });
  }
}
