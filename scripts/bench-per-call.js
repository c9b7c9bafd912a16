'use strict';
// The table of the keys benchmarks (bench-keys.js under wine, bench-linux-keys.js
// on Linux): the cost per call of script calls next to native floors, each a
// median of 7 rounds, script and native rounds alternating after a warm-up.
const ROUNDS = 7;

function scriptCost(call, count) {
  const start = process.hrtime();
  for (let i = 0; i < count; i++) call();
  const [seconds, nanoseconds] = process.hrtime(start);
  return (seconds * 1e9 + nanoseconds) / count;
}

const median = (values) => values.slice().sort((a, b) => a - b)[values.length >> 1];
const format = (ns) => (ns >= 10000 ? `${(ns / 1000).toFixed(1)} us` : `${ns.toFixed(0)} ns`);

// cases: [label, script call, calls per round, floor, second floor or null];
// nativeCost(floor, count) gives a floor's nanoseconds per run. The ratio is
// the script's over the first floor.
exports.printCosts = (cases, nativeCost, floorNames) => {
  console.log(`median of ${ROUNDS} rounds, script and native rounds alternating`);
  console.log(`${'call'.padEnd(30)}${'script'.padStart(12)}` +
              `${floorNames.map((name) => name.padStart(12)).join('')}${'ratio'.padStart(8)}`);
  for (const [label, call, count, ...floors] of cases) {
    const runs = floors.map((floor) => (floor ? (n) => nativeCost(floor, n) : () => NaN));
    const rounds = [[], ...runs.map(() => [])];
    for (let round = -1; round < ROUNDS; round++) {
      const n = round < 0 ? count / 10 : count;
      const times = [scriptCost(call, n), ...runs.map((run) => run(n))];
      if (round >= 0) times.forEach((time, i) => rounds[i].push(time));
    }
    const [script, ...native] = rounds.map(median);
    console.log(`${label.padEnd(30)}${format(script).padStart(12)}` +
                `${native.map((ns) => (Number.isNaN(ns) ? '-' : format(ns)).padStart(12)).join('')}` +
                `${(script / native[0]).toFixed(2).padStart(8)}`);
  }
};
