'use strict';
// Run by "scripts/bench.sh keys": the cost per call, from script, of four
// functions, next to the same Win32 calls made from native code (the floor),
// and for the two cheapest, the core's routine behind the call, called from
// native code: the script call's excess over it is the binding's.
const path = require('path');
const addon = require(path.win32.join(process.env.VELMORA_BUILD, 'addon-x64', 'src', 'velmora_node_sys.node'));
const direct = require(path.win32.join(process.env.VELMORA_BUILD, 'addon-x64', 'tests', 'addon',
                                       'velmora_direct.node'));

// [label, native floor, script call, calls per round, the core's routine]
const cases = [
  ['getKeyState("Shift")', 'getKeyState', () => addon.getKeyState('Shift'), 20000, 'core:getKeyState'],
  ['getKnownDirectory("Desktop")', 'getKnownDirectory', () => addon.getKnownDirectory('Desktop'), 3000],
  ['getUserIdleTime()', 'getUserIdleTime', () => addon.getUserIdleTime(), 50000],
  ['simulateKeys("F24")', 'simulateKeys', () => addon.simulateKeys('F24'), 5000, 'core:simulateKeys'],
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
console.log(`${'call'.padEnd(30)}${'script'.padStart(12)}${'core'.padStart(12)}${'native'.padStart(12)}` +
            `${'ratio'.padStart(8)}`);
for (const [label, floor, call, count, core] of cases) {
  const rounds = { script: [], core: [], native: [] };
  const measure = (warmUp) => {
    const n = warmUp ? count / 10 : count;
    const times = [scriptCost(call, n), core ? direct.nativeCost(core, n) : NaN, direct.nativeCost(floor, n)];
    if (!warmUp) ['script', 'core', 'native'].forEach((kind, i) => rounds[kind].push(times[i]));
  };
  measure(true);
  for (let round = 0; round < ROUNDS; round++) measure(false);
  const [script, coreCost, native] = ['script', 'core', 'native'].map((kind) => median(rounds[kind]));
  console.log(`${label.padEnd(30)}${format(script).padStart(12)}${(core ? format(coreCost) : '-').padStart(12)}` +
              `${format(native).padStart(12)}${(script / native).toFixed(2).padStart(8)}`);
}
