'use strict';
// Run by "scripts/bench.sh keys": the cost per call, from script, of four
// functions, next to the same Win32 calls made from native code (the floor).
const path = require('path');
const addon = require(path.win32.join(process.env.VELMORA_BUILD, 'addon-x64', 'src', 'velmora_node_sys.node'));
const direct = require(path.win32.join(process.env.VELMORA_BUILD, 'addon-x64', 'tests', 'addon',
                                       'velmora_direct.node'));

// [label, native floor, script call, calls per round]
const cases = [
  ['getKeyState("Shift")', 'getKeyState', () => addon.getKeyState('Shift'), 20000],
  ['getKnownDirectory("Desktop")', 'getKnownDirectory', () => addon.getKnownDirectory('Desktop'), 3000],
  ['getUserIdleTime()', 'getUserIdleTime', () => addon.getUserIdleTime(), 50000],
  ['simulateKeys("F24")', 'simulateKeys', () => addon.simulateKeys('F24'), 5000],
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

console.log(`median of ${ROUNDS} rounds, script and native rounds alternating`);
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
