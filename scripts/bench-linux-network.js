'use strict';
// Run by "scripts/bench.sh linux-network [CHANGES]" (200 by default), in a
// network namespace of its own: the latency of a "network" event from an `ip`
// command that takes a veth card's carrier away or gives it back, and from
// the kernel's notification of it, against the floor, a native program that
// blocks on a route netlink socket of its own for the same changes
// (out/tests/linux/netlink_floor); then what the link and address dumps that
// the source makes at each change cost alone. Every time is CLOCK_MONOTONIC,
// which uv_hrtime and the floor both read.
const childProcess = require('child_process');
const path = require('path');
const readline = require('readline');

const build = process.env.VELMORA_BUILD;
const addon = require(path.join(build, 'linux-x64', 'src', 'velmora_node_sys.napi.node'));
const floorPath = path.join(build, 'tests', 'linux', 'netlink_floor');
const changes = Number(process.argv[2] || 200);

const now = () => Number(process.hrtime.bigint());
const ip = (...args) => childProcess.execFileSync('ip', args);
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Times of one kind, in arrival order; firstAfter resolves with the first at
// or after since, as soon as it is there.
class Timeline {
  constructor() {
    this.times = [];
    this.waiting = [];
  }

  push(time) {
    this.times.push(time);
    const still = [];
    for (const waiter of this.waiting) {
      if (time >= waiter.since) {
        waiter.resolve(time);
      } else {
        still.push(waiter);
      }
    }
    this.waiting = still;
  }

  firstAfter(since) {
    const time = this.times.find((t) => t >= since);
    return time !== undefined ? Promise.resolve(time)
      : new Promise((resolve) => this.waiting.push({ since, resolve }));
  }
}

function percentile(sorted, p) {
  return sorted[Math.min(sorted.length - 1, Math.floor(p * sorted.length))];
}

function describe(label, ns) {
  const sorted = ns.slice().sort((a, b) => a - b);
  const ms = (value) => (value / 1e6).toFixed(3);
  console.log(`  ${label}: median ${ms(percentile(sorted, 0.5))} ms, p90 ${ms(percentile(sorted, 0.9))} ms, ` +
              `p99 ${ms(percentile(sorted, 0.99))} ms, min ${ms(sorted[0])} ms`);
}

(async () => {
  // No IPv6 addresses of the kernel's own making: their detection would ring
  // the sockets a second after each change.
  ip('link', 'set', 'lo', 'up');
  ip('link', 'add', 'v0', 'type', 'veth', 'peer', 'name', 'v1');
  ip('link', 'set', 'v0', 'addrgenmode', 'none');
  ip('link', 'set', 'v1', 'addrgenmode', 'none');
  ip('addr', 'add', '10.0.0.1/24', 'dev', 'v0');
  ip('link', 'set', 'v0', 'up');

  // At a real-time priority, so that its wake marks the kernel's notification
  // even on a busy machine: netlink gives no receive timestamps.
  const floor = childProcess.spawn('chrt', ['-f', '1', floorPath, 'listen'],
                                   { stdio: ['ignore', 'pipe', 'inherit'] });
  const notified = new Timeline();
  readline.createInterface({ input: floor.stdout }).on('line', (line) => notified.push(Number(line)));
  const delivered = new Timeline();
  addon.watch((type) => type === 'network' && delivered.push(now()));
  await sleep(500);

  // One `ip` for every change, reading its commands from a pipe: starting a
  // process for each would put its start, and its exit's handling on the
  // loop, into every figure.
  const batch = childProcess.spawn('ip', ['-batch', '-'], { stdio: ['pipe', 'inherit', 'inherit'] });
  const fromCommand = [];
  const floorFromCommand = [];
  const fromNotification = [];
  for (let i = 0; i < changes; i++) {
    const start = now();
    batch.stdin.write(`link set v1 ${i % 2 === 0 ? 'up' : 'down'}\n`);
    const lost = setTimeout(() => {
      console.log(`change ${i}: no event or no notification within 2 s`);
      process.exit(1);
    }, 2000);
    const [notice, callback] = await Promise.all([notified.firstAfter(start), delivered.firstAfter(start)]);
    clearTimeout(lost);
    fromCommand.push(callback - start);
    floorFromCommand.push(notice - start);
    fromNotification.push(callback - notice);
    await sleep(20);
  }
  batch.stdin.end();
  floor.kill();
  addon.unwatch();

  // The dumps' cost here, and with 100 more interfaces (50 veth pairs), as on
  // a host of containers.
  const dumpCost = () => childProcess.execFileSync(floorPath, ['dump', '1000'], { encoding: 'utf8' })
    .trim().split(' ').map(Number);
  const [dumpNs, dumpBytes] = dumpCost();
  let pairs = '';
  for (let k = 0; k < 50; k++) pairs += `link add a${k} type veth peer name b${k}\n`;
  childProcess.execFileSync('ip', ['-batch', '-'], { input: pairs });
  const [manyNs, manyBytes] = dumpCost();

  console.log(`${changes} carrier changes of a veth card (\`link set v1 up|down\` to \`ip -batch\`), ` +
              `${delivered.times.length} events`);
  describe('addon, from just before the command to the callback', fromCommand);
  describe('addon, from the kernel\'s notification (the floor\'s wake) to the callback', fromNotification);
  console.log('floor: a native thread blocked on a route netlink socket of its own');
  describe('from just before the command to its wake', floorFromCommand);
  console.log('the source\'s work at each change, natively: a link dump and an address dump, the mean of 1000');
  console.log(`  3 interfaces (${dumpBytes} bytes): ${(dumpNs / 1000).toFixed(1)} us`);
  console.log(`  103 interfaces (${manyBytes} bytes): ${(manyNs / 1000).toFixed(1)} us`);
  process.exit(0);
})();
