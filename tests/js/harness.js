'use strict';
// The cases of one test file, run in order inside node.exe under wine. A
// failure names the case and prints the assertion's actual and expected
// values with the stack that points at it; the exit code counts failures.
const path = require('path');
const util = require('util');

const build = process.env.VELMORA_BUILD;
const cases = [];

exports.paths = {
  build,
  addon: path.win32.join(build, 'addon-x64', 'src', 'velmora_node_sys.node'),
  testAddons: path.win32.join(build, 'addon-x64', 'tests', 'addon'),
  helpers: path.win32.join(build, 'mingw-i686', 'tests', 'helpers'),
  capture: path.win32.join(build, 'mingw-i686', 'capture', 'velmora_capture.exe'),
  veltools: path.win32.join(build, 'mingw-i686', 'tools', 'veltools.exe'),
  nodeExe: process.execPath,
};

exports.test = (name, fn) => cases.push({ name, fn });

exports.sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Polls fn until it returns a truthy value or ms have passed; returns the last value.
exports.waitFor = async (fn, ms) => {
  const end = Date.now() + ms;
  let value;
  while (!(value = fn()) && Date.now() < end) await exports.sleep(20);
  return value;
};

setImmediate(async () => {
  let failures = 0;
  for (const { name, fn } of cases) {
    try {
      await fn();
      console.log(`ok - ${name}`);
    } catch (e) {
      failures++;
      console.log(`not ok - ${name}`);
      if (e && 'actual' in e && 'expected' in e) {
        console.log(`  actual:   ${util.inspect(e.actual, { depth: 4 })}`);
        console.log(`  expected: ${util.inspect(e.expected, { depth: 4 })}`);
      }
      console.log(String(e && e.stack).replace(/^/gm, '  '));
    }
  }
  console.log(`${cases.length - failures} of ${cases.length} cases passed`);
  process.exitCode = failures === 0 ? 0 : 1;
});
