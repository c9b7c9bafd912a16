'use strict';
// findChromeWindow inside a child of a window host that mimics the client.
const assert = require('assert');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { test, paths, runLogged } = require('./harness');

function runUnderHost(before, after) {
  const signal = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'chrome-window-')), 'signal');
  const { status, output } = runLogged(
    path.win32.join(paths.helpers, 'window_host.exe'),
    [before, after, signal, paths.nodeExe, path.join(__dirname, 'chrome_window.child.js')],
    { env: Object.assign({}, process.env, { VELMORA_SIGNAL: signal }) });
  assert.strictEqual(status, 0, `${before} then ${after}:\n${output}`);
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
