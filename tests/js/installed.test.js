'use strict';
// The package as a client installs it (the package test leaves that client in
// the build folder): its loader, node-gyp-build, picks the prebuilt binary
// under node and under NW.js, and a local build/Release over it.
const assert = require('assert');
const fs = require('fs');
const path = require('path');
const { test, paths } = require('./harness');

const client = path.win32.join(paths.build, 'client');
const installed = path.win32.join(client, 'node_modules', 'velmora_node_sys');
const prebuilt = path.win32.join(installed, 'prebuilds', 'win32-x64', 'velmora_node_sys.abi59.node');
const loaderPath = require.resolve('node-gyp-build', { paths: [installed] });

// The loader as it would be in a runtime whose process.versions has extras:
// it reads them once, when it is loaded.
function loaderIn(extraVersions) {
  const saved = Object.assign({}, process.versions);
  Object.assign(process.versions, extraVersions);
  delete require.cache[loaderPath];
  try {
    return require(loaderPath);
  } finally {
    for (const name of Object.keys(extraVersions)) delete process.versions[name];
    assert.deepStrictEqual(process.versions, saved);
  }
}

test("a client's require loads the prebuilt binary with the nine functions", () => {
  const addon = require(path.win32.join(client, 'node_modules', 'velmora_node_sys'));
  assert.deepStrictEqual(Object.keys(addon), [
    'getUserIdleTime', 'getKnownDirectory', 'getProcessesOfSameExeFile', 'findChromeWindow',
    'getKeyState', 'simulateKeys', 'setBadge', 'watch', 'unwatch']);
  assert.ok(require.cache[prebuilt], 'the prebuilt binary is the module loaded');
});

test('the loader picks the prebuilt binary under node and under NW.js', () => {
  assert.strictEqual(loaderIn({}).path(installed), prebuilt);
  assert.strictEqual(loaderIn({ nw: '0.30.5', 'node-webkit': '0.30.5' }).path(installed), prebuilt);
});

test('a local build/Release wins over the prebuilt binary', () => {
  const release = path.win32.join(installed, 'build', 'Release');
  fs.mkdirSync(path.win32.dirname(release));
  fs.mkdirSync(release);
  try {
    fs.copyFileSync(paths.addon, path.win32.join(release, 'velmora_node_sys.node'));
    assert.strictEqual(loaderIn({}).path(installed), path.win32.join(release, 'velmora_node_sys.node'));
  } finally {
    fs.unlinkSync(path.win32.join(release, 'velmora_node_sys.node'));
    fs.rmdirSync(release);
    fs.rmdirSync(path.win32.dirname(release));
  }
});
