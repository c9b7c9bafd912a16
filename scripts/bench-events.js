'use strict';
// Run by "scripts/bench.sh events [EVENTS_PER_THREAD]" (50,000 by default):
// a burst from two posting threads through the event bridge of event_poster,
// a test build of the addon, then the floor: as many calls of an empty
// function from native code.
const path = require('path');
const poster = require(path.win32.join(process.env.VELMORA_BUILD, 'addon-x64', 'tests', 'addon',
                                       'event_poster.node'));

const perThread = Number(process.argv[2] || 50000);
const total = 2 * perThread;
const now = () => {
  const [seconds, nanoseconds] = process.hrtime();
  return seconds * 1e9 + nanoseconds;
};

// Resolves when every event of a burst has been delivered, with the post and
// delivery times of each (uv_hrtime, in ns) and the time of the last one. A
// watch keeps the loop alive only while an event waits, and the posters may
// fall behind the loop, so a timer holds the loop until the end.
function burst() {
  return new Promise((resolve) => {
    const posted = new Float64Array(total);
    const delivered = new Float64Array(total);
    const holdLoop = setInterval(() => {}, 1000);
    let count = 0;
    poster.watch((type, state) => {
      if (type === 'network') return;
      delivered[(type === 't1' ? perThread : 0) + Number(state)] = now();
      if (++count < total) return;
      clearInterval(holdLoop);
      resolve({ posted, delivered, start, end: now() });
    });
    const start = now();
    poster.startPosters(perThread, posted);
  });
}

function percentile(sorted, p) {
  return sorted[Math.min(sorted.length - 1, Math.floor(p * sorted.length))];
}

(async () => {
  // The sources post ("network", "on") once, at their first poll; let it pass.
  poster.watch(() => {});
  await new Promise((resolve) => setTimeout(resolve, 1000));
  poster.unwatch();

  const run = await burst();
  poster.joinPosters();
  poster.unwatch();
  const latencies = run.delivered.map((time, i) => time - run.posted[i]).sort();
  const seconds = (run.end - run.start) / 1e9;

  // The loop's side alone: a batch of as many events, all queued before it
  // is delivered.
  const batch = await new Promise((resolve) => {
    let count = 0;
    let first = 0;
    poster.watch((type) => {
      if (type === 'network') return;
      if (count++ === 0) first = now();
      if (count === total) resolve((now() - first) / 1e9);
    });
    for (let i = 0; i < total; i++) poster.post('t0', String(i));
  });
  poster.unwatch();

  const empty = function () {};
  poster.callRepeatedly(empty, total);
  const floorStart = now();
  poster.callRepeatedly(empty, total);
  const floorSeconds = (now() - floorStart) / 1e9;

  const us = (ns) => (ns / 1000).toFixed(1);
  console.log(`burst: ${total} events from 2 posting threads`);
  console.log(`  delivered in ${seconds.toFixed(3)} s: ${Math.round(total / seconds)} events/s, ` +
              `${us(seconds * 1e9 / total)} us each`);
  console.log(`  post to callback: median ${us(percentile(latencies, 0.5))} us, ` +
              `p99 ${us(percentile(latencies, 0.99))} us`);
  console.log(`  the loop's side alone (${total} events queued, then delivered): ` +
              `${batch.toFixed(3)} s, ${us(batch * 1e9 / total)} us each`);
  console.log(`floor: ${total} calls of an empty function from native code`);
  console.log(`  in ${floorSeconds.toFixed(3)} s: ${Math.round(total / floorSeconds)} calls/s, ` +
              `${us(floorSeconds * 1e9 / total)} us each`);
  console.log(`ratio: ${(seconds / floorSeconds).toFixed(1)} times the floor ` +
              `(the loop's side: ${(batch / floorSeconds).toFixed(1)} times)`);
})();
