'use strict';
// Runs in a network namespace of its own for network.test.js: loads the addon
// given as its argument, then takes one command a line on standard input
// ("watch", "unwatch") and writes each answer, and each event with the time
// it reached the callback, as one JSON line.
const readline = require('readline');
const addon = require(process.argv[2]);

const report = (message) => process.stdout.write(`${JSON.stringify(message)}\n`);
const callback = (type, state) => report({ type, state, time: Date.now() });

readline.createInterface({ input: process.stdin }).on('line', (command) => {
  report({ [command]: command === 'watch' ? addon.watch(callback) : addon.unwatch() });
});
report({ ready: process.pid });
