'use strict';
// Run by "scripts/bench.sh linux-dbus [SIGNALS]" (200 by default): the latency from
// a D-Bus signal to the watch callback. A native libdbus client, owning
// GNOME's screen saver's name on a private session bus, sends ActiveChanged,
// true and false in turn (each a "session" event), 20 ms apart; the floor is
// another native client that receives the same signals in the same run.
const childProcess = require('child_process');
const path = require('path');
const readline = require('readline');
const { paths, startBus } = require('../tests/js/harness');

const count = Number(process.argv[2] || 200);
const client = path.join(paths.helpers, 'dbus_signal_client');

// Starts the client with args; resolves, once it prints "ready", to its
// process and the numbers it prints after that.
function startClient(env, args) {
  const child = childProcess.spawn(client, args, { env, stdio: ['pipe', 'pipe', 'inherit'] });
  const times = [];
  return new Promise((resolve) => {
    readline.createInterface({ input: child.stdout }).on('line', (line) => {
      if (line === 'ready') resolve({ child, times });
      else times.push(BigInt(line));
    });
  });
}

function percentile(sorted, p) {
  return sorted[Math.min(sorted.length - 1, Math.floor(p * sorted.length))];
}

(async () => {
  const bus = await startBus();
  const env = Object.assign({}, process.env, { DBUS_SESSION_BUS_ADDRESS: bus.address });
  process.env.DBUS_SESSION_BUS_ADDRESS = bus.address;
  process.env.DBUS_SYSTEM_BUS_ADDRESS = `unix:path=${bus.dir}/none`;
  const emitter = await startClient(env, ['emit', String(count), '20']);
  const receiver = await startClient(env, ['receive', String(count)]);
  const delivered = [];
  const sys = require(paths.addon);
  sys.watch((type) => type === 'session' && delivered.push(process.hrtime.bigint()));
  // The addon's thread connects and reads the screen saver's state first.
  await new Promise((resolve) => setTimeout(resolve, 1000));
  const done = new Promise((resolve) => emitter.child.on('exit', resolve));
  emitter.child.stdin.write('go\n');
  await done;
  await new Promise((resolve) => setTimeout(resolve, 500));
  sys.unwatch();
  receiver.child.kill();
  await bus.stop();

  const sent = emitter.times;
  const us = (ns) => (Number(ns) / 1000).toFixed(1);
  const report = (name, times) => {
    const latencies = times.map((time, i) => time - sent[i]).sort((a, b) => (a < b ? -1 : a > b ? 1 : 0));
    console.log(`  ${name}: ${times.length} of ${sent.length}, median ${us(percentile(latencies, 0.5))} us, ` +
                `p90 ${us(percentile(latencies, 0.9))} us, max ${us(latencies[latencies.length - 1])} us`);
    return percentile(latencies, 0.5);
  };
  console.log(`signal to receipt: ${sent.length} ActiveChanged signals, 20 ms apart, through a private dbus-daemon`);
  const addon = report('watch callback (addon)', delivered);
  const floor = report('native libdbus client (floor)', receiver.times);
  console.log(`ratio of medians: ${(Number(addon) / Number(floor)).toFixed(2)} times the floor, ` +
              `${us(addon - floor)} us more`);
})();
