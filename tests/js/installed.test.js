'use strict';
// The package as a client installs it (the package test leaves that client in
// the build folder): its loader, node-gyp-build, picks the prebuilt binary
// for node and for NW.js at each module version, and a local build/Release
// over it.
const assert = require('assert');
const fs = require('fs');
const path = require('path');
const { test, paths } = require('./harness');

const client = path.win32.join(paths.build, 'client');
const installed = path.win32.join(client, 'node_modules', 'velmora_node_sys');
const prebuilt = (file) => path.win32.join(installed, 'prebuilds', ...file.split('/'));
const v8Binary = prebuilt('win32-x64/velmora_node_sys.node.abi59.node');
const loaderPath = require.resolve('node-gyp-build', { paths: [installed] });

// What requiring file gives in a runtime of the given module version and
// architecture, with process.versions' extras (NW.js's): the loader reads
// them once, when its modules are loaded, so they and file load afresh.
function requireIn(file, modules, arch, extraVersions) {
  const saved = Object.assign({}, process.versions);
  const modulesProperty = Object.getOwnPropertyDescriptor(process.versions, 'modules');
  Object.defineProperty(process.versions, 'modules', Object.assign({}, modulesProperty, { value: modules }));
  Object.assign(process.versions, extraVersions);
  process.env.npm_config_arch = arch;
  for (const cached of Object.keys(require.cache)) {
    if (path.win32.dirname(cached) === path.win32.dirname(loaderPath)) delete require.cache[cached];
  }
  delete require.cache[require.resolve(file)];
  try {
    return require(file);
  } finally {
    delete process.env.npm_config_arch;
    for (const name of Object.keys(extraVersions)) delete process.versions[name];
    Object.defineProperty(process.versions, 'modules', modulesProperty);
    assert.deepStrictEqual(process.versions, saved);
  }
}

test("a client's require in node 9 loads the V8 binary with the nine functions", () => {
  const addon = require(path.win32.join(client, 'node_modules', 'velmora_node_sys'));
  assert.deepStrictEqual(Object.keys(addon), [
    'getUserIdleTime', 'getKnownDirectory', 'getProcessesOfSameExeFile', 'findChromeWindow',
    'getKeyState', 'simulateKeys', 'setBadge', 'watch', 'unwatch']);
  assert.ok(require.cache[v8Binary], 'the V8 binary is the module loaded');
});

// NW.js at module 59 is the case where a wrong choice would load a binary
// built for another V8: the package's own index.js is required there.
test("a client's require in NW.js at module 59 loads the Node-API binary", () => {
  const nw = { nw: '0.30.0', 'node-webkit': '0.30.0' };
  const addon = requireIn(path.win32.join(installed, 'index.js'), '59', 'x64', nw);
  assert.strictEqual(Object.keys(addon).length, 9);
  assert.strictEqual(require.cache[prebuilt('win32-x64/velmora_node_sys.napi.node')].exports, addon);
});

// Only node 9 takes the V8 binary, built against its very V8; NW.js, whose V8
// is its own, takes the Node-API one at every module version.
test('the loader picks the V8 binary for node at module 59, the Node-API one everywhere else', () => {
  const nw = { nw: '0.30.0', 'node-webkit': '0.30.0' };
  const napi = 'win32-x64/velmora_node_sys.napi.node';
  const cases = [
    ['59', 'x64', {}, 'win32-x64/velmora_node_sys.node.abi59.node'], ['59', 'x64', nw, napi],
    ['64', 'x64', {}, napi], ['64', 'x64', nw, napi], ['131', 'x64', {}, napi], ['131', 'x64', nw, napi],
    ['59', 'ia32', {}, 'win32-ia32/velmora_node_sys.napi.node'],
    ['131', 'ia32', nw, 'win32-ia32/velmora_node_sys.napi.node'],
  ];
  for (const [modules, arch, versions, expected] of cases) {
    assert.strictEqual(requireIn(loaderPath, modules, arch, versions).path(installed), prebuilt(expected),
                       `module ${modules} ${arch} ${versions.nw ? 'NW.js' : 'node'}`);
  }
});

test('a local build/Release wins over the prebuilt binary', () => {
  const release = path.win32.join(installed, 'build', 'Release');
  fs.mkdirSync(path.win32.dirname(release));
  fs.mkdirSync(release);
  try {
    fs.copyFileSync(paths.addon, path.win32.join(release, 'velmora_node_sys.node'));
    for (const versions of [{}, { nw: '0.117.0', 'node-webkit': '0.117.0' }]) {
      assert.strictEqual(requireIn(loaderPath, '131', 'x64', versions).path(installed),
                         path.win32.join(release, 'velmora_node_sys.node'));
    }
  } finally {
    fs.unlinkSync(path.win32.join(release, 'velmora_node_sys.node'));
    fs.rmdirSync(release);
    fs.rmdirSync(path.win32.dirname(release));
  }
});
