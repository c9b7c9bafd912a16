'use strict';
// The package as a client installs it: its main loads the addon that
// node-gyp leaves in build/Release.
const assert = require('assert');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { test, paths } = require('./harness');

test("the package's main loads the addon with its nine functions", () => {
  const source = path.win32.join(paths.build, '..');
  const installed = fs.mkdtempSync(path.join(os.tmpdir(), 'velmora_node_sys-'));
  for (const file of ['package.json', 'index.js', 'index.d.ts']) {
    fs.copyFileSync(path.join(source, file), path.join(installed, file));
  }
  fs.mkdirSync(path.join(installed, 'build'));
  fs.mkdirSync(path.join(installed, 'build', 'Release'));
  fs.copyFileSync(paths.addon, path.join(installed, 'build', 'Release', 'velmora_node_sys.node'));
  const addon = require(installed);
  assert.deepStrictEqual(Object.keys(addon), [
    'getUserIdleTime', 'getKnownDirectory', 'getProcessesOfSameExeFile', 'findChromeWindow',
    'getKeyState', 'simulateKeys', 'setBadge', 'watch', 'unwatch']);
});
