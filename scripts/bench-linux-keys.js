'use strict';
// Run by "scripts/bench.sh linux-keys": the cost per call, from script, of
// six functions of the Linux addon, next to the same X and /proc work done
// from native code (tests/linux/direct.cc, the floor) in the same run, on the
// Linux session's Xvfb display. findChromeWindow searches at every call: the
// windows of a window host are on the display, but none of this process's
// ancestors owns them.
const childProcess = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const build = process.env.VELMORA_BUILD;
const addon = require(path.join(build, 'linux-x64', 'src', 'velmora_node_sys.napi.node'));
const direct = require(path.join(build, 'tests', 'linux', 'velmora_linux_direct.node'));

const config = fs.mkdtempSync(path.join(os.tmpdir(), 'bench-config-'));
fs.writeFileSync(path.join(config, 'user-dirs.dirs'), ['DESKTOP', 'DOWNLOAD', 'TEMPLATES', 'PUBLICSHARE',
  'DOCUMENTS', 'MUSIC', 'PICTURES', 'VIDEOS'].map((name) => `XDG_${name}_DIR="$HOME/${name}"\n`).join(''));
process.env.XDG_CONFIG_HOME = config;
const host = childProcess.spawn(path.join(build, 'tests', 'linux', 'x11_window_host'),
                                ['raised', 'none', path.join(config, 'never'), '/bin/sleep', '600'],
                                { stdio: 'ignore', detached: true });

// [label, native floor, script call, calls per round]
const cases = [
  ['getKeyState("Shift")', 'getKeyState', () => addon.getKeyState('Shift'), 20000],
  ['getUserIdleTime()', 'getUserIdleTime', () => addon.getUserIdleTime(), 20000],
  ['simulateKeys("Shift")', 'simulateKeys', () => addon.simulateKeys('Shift'), 5000],
  ['  floor reading events too', 'simulateKeysReadingEvents', () => addon.simulateKeys('Shift'), 5000],
  ['getKnownDirectory("Desktop")', 'getKnownDirectory', () => addon.getKnownDirectory('Desktop'), 20000],
  ['getProcessesOfSameExeFile()', 'getProcessesOfSameExeFile', () => addon.getProcessesOfSameExeFile(), 200],
  ['findChromeWindow()', 'findChromeWindow', () => addon.findChromeWindow(), 2000],
];
const ROUNDS = 7;

function scriptCost(call, count) {
  const start = process.hrtime();
  for (let i = 0; i < count; i++) call();
  const [seconds, nanoseconds] = process.hrtime(start);
  return (seconds * 1e9 + nanoseconds) / count;
}

const median = (values) => values.slice().sort((a, b) => a - b)[values.length >> 1];
const format = (ns) => (ns >= 10000 ? `${(ns / 1000).toFixed(1)} us` : `${ns.toFixed(0)} ns`);

// The host has mapped its windows once the addon's search has them to look at.
setTimeout(() => {
  console.log(`median of ${ROUNDS} rounds, script and native rounds alternating; ` +
              `${fs.readdirSync('/proc').filter((name) => /^\d+$/.test(name)).length} processes`);
  console.log(`${'call'.padEnd(30)}${'script'.padStart(12)}${'native'.padStart(12)}${'ratio'.padStart(8)}`);
  for (const [label, floor, call, count] of cases) {
    scriptCost(call, count / 10);
    direct.nativeCost(floor, count / 10);
    const script = [];
    const native = [];
    for (let round = 0; round < ROUNDS; round++) {
      script.push(scriptCost(call, count));
      native.push(direct.nativeCost(floor, count));
    }
    const ratio = median(script) / median(native);
    console.log(`${label.padEnd(30)}${format(median(script)).padStart(12)}${format(median(native)).padStart(12)}` +
                `${ratio.toFixed(2).padStart(8)}`);
  }
  // The host, its middle process and the sleep that stands for the script.
  process.kill(-host.pid);
}, 1000);
