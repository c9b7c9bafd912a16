'use strict';
// findChromeWindow inside a child of a window host that mimics the client.
const assert = require('assert');
const childProcess = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { test, paths } = require('./harness');

function runUnderHost(before, after) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'chrome-window-'));
  const log = path.join(dir, 'child.log');
  const fd = fs.openSync(log, 'w');
  const result = childProcess.spawnSync(
    path.win32.join(paths.helpers, 'window_host.exe'),
    [before, after, path.join(dir, 'signal'), paths.nodeExe, path.join(__dirname, 'chrome_window.child.js')],
    { stdio: ['ignore', fd, fd], env: Object.assign({}, process.env, { VELMORA_SIGNAL: path.join(dir, 'signal') }), timeout: 60000 });
  fs.closeSync(fd);
  const output = fs.readFileSync(log, 'utf8');
  assert.strictEqual(result.status, 0, `${before} then ${after}:\n${output}`);
  return output;
}

test('found: the same number on later calls, also after the window is gone', () => {
  runUnderHost('match', 'none');
});

test('two top-level windows, only the one met second holds the render window: found', () => {
  runUnderHost('second', 'none');
});

test('wrong child class: 0, and a later call searches again', () => {
  runUnderHost('wrongclass', 'match');
});

test('wrong child title: 0, and a later call searches again', () => {
  runUnderHost('wrongtitle', 'match');
});

test('no window: 0, and a later call searches again', () => {
  runUnderHost('none', 'match');
});

test('a process whose parent has no such window gets 0', () => {
  assert.strictEqual(require(paths.addon).findChromeWindow(), 0);
});
