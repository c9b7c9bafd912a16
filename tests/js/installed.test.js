'use strict';
// The package as a client installs it (the package test leaves that client in
// the build folder): its loader, node-gyp-build, picks the prebuilt binary
// for node and for NW.js at each module version, and a local build/Release
// over it. Run under wine, and in Linux node.
const assert = require('assert');
const fs = require('fs');
const path = require('path');
const { test, paths, nodeCommand, runLogged } = require('./harness');

const windows = process.platform === 'win32';
const client = path.join(paths.build, 'client');
const installed = path.join(client, 'node_modules', 'velmora_node_sys');
const prebuilt = (file) => path.join(installed, 'prebuilds', ...file.split('/'));
const linuxBinary = 'linux-x64/velmora_node_sys.napi.glibc.node';
const loaderPath = require.resolve('node-gyp-build', { paths: [installed] });
const nw = { nw: '0.30.0', 'node-webkit': '0.30.0' };

// What requiring file gives in a runtime of the given module version and
// architecture, with process.versions' extras (NW.js's) and, on Linux, with
// the environment's LIBC and with or without /etc/alpine-release: the loader
// reads them once, when its modules are loaded, so they and file load afresh.
function requireIn(file, modules, arch, extraVersions, { libc, alpine = false } = {}) {
  const saved = Object.assign({}, process.versions);
  const modulesProperty = Object.getOwnPropertyDescriptor(process.versions, 'modules');
  Object.defineProperty(process.versions, 'modules', Object.assign({}, modulesProperty, { value: modules }));
  Object.assign(process.versions, extraVersions);
  process.env.npm_config_arch = arch;
  if (libc) process.env.LIBC = libc;
  const existsSync = fs.existsSync;
  fs.existsSync = (name) => (name === '/etc/alpine-release' ? alpine : existsSync(name));
  for (const cached of Object.keys(require.cache)) {
    if (path.dirname(cached) === path.dirname(loaderPath)) delete require.cache[cached];
  }
  delete require.cache[require.resolve(file)];
  try {
    return require(file);
  } finally {
    fs.existsSync = existsSync;
    delete process.env.LIBC;
    delete process.env.npm_config_arch;
    for (const name of Object.keys(extraVersions)) delete process.versions[name];
    Object.defineProperty(process.versions, 'modules', modulesProperty);
    assert.deepStrictEqual(process.versions, saved);
  }
}

test(`a client's require in node ${process.versions.node} loads the ${windows ? 'V8' : 'Linux'} binary with the nine functions`, () => {
  const addon = require(installed);
  assert.deepStrictEqual(Object.keys(addon), [
    'getUserIdleTime', 'getKnownDirectory', 'getProcessesOfSameExeFile', 'findChromeWindow',
    'getKeyState', 'simulateKeys', 'setBadge', 'watch', 'unwatch']);
  const binary = windows ? 'win32-x64/velmora_node_sys.node.abi59.node' : linuxBinary;
  assert.ok(require.cache[prebuilt(binary)], `${binary} is the module loaded`);
});

// NW.js at module 59 is the case where a wrong choice would load a binary
// built for another V8: the package's own index.js is required there.
test("a client's require in NW.js at module 59 loads the Node-API binary", () => {
  const addon = requireIn(path.join(installed, 'index.js'), '59', 'x64', nw);
  assert.strictEqual(Object.keys(addon).length, 9);
  const binary = windows ? 'win32-x64/velmora_node_sys.napi.node' : linuxBinary;
  assert.strictEqual(require.cache[prebuilt(binary)].exports, addon);
});

// Only node 9 takes the V8 binary, built against its very V8; NW.js, whose V8
// is its own, takes the Node-API one at every module version.
if (windows) test('the loader picks the V8 binary for node at module 59, the Node-API one everywhere else', () => {
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

// The binary is tagged glibc: musl's loader (Alpine's, or any that sets
// LIBC=musl) could not load it, and node-gyp-build says so instead.
if (!windows) test('the loader picks the glibc binary for node and NW.js, and finds none on musl', () => {
  for (const modules of ['59', '64', '131']) {
    for (const versions of [{}, nw]) {
      const runtime = `module ${modules} ${versions.nw ? 'NW.js' : 'node'}`;
      for (const libc of [undefined, 'glibc']) {
        assert.strictEqual(requireIn(loaderPath, modules, 'x64', versions, { libc }).path(installed),
                           prebuilt(linuxBinary), `${runtime}, LIBC ${libc}`);
      }
      for (const musl of [{ libc: 'musl' }, { alpine: true }]) {
        assert.throws(() => requireIn(loaderPath, modules, 'x64', versions, musl).path(installed),
                      new RegExp(`^Error: No native build was found for platform=linux arch=x64 runtime=${versions.nw ? 'node-webkit' : 'node'} abi=${modules} .*libc=musl`),
                      `${runtime}, ${JSON.stringify(musl)}`);
      }
    }
  }
});

if (!windows) test("a client's require with LIBC=musl throws the loader's error", () => {
  const { status, output } = runLogged(...nodeCommand(paths.nodeExe, ['-e', `
    try { require(${JSON.stringify(installed)}); console.log('loaded'); } catch (e) { console.log(e.message); }`]),
  { env: Object.assign({}, process.env, { LIBC: 'musl' }) });
  assert.strictEqual(status, 0, output);
  assert.ok(output.startsWith('No native build was found for platform=linux arch=x64 runtime=node ' +
                              `abi=${process.versions.modules} uv=1 libc=musl node=${process.versions.node}`), output);
});

test('a local build/Release wins over the prebuilt binary', () => {
  const release = path.join(installed, 'build', 'Release');
  fs.mkdirSync(path.dirname(release));
  fs.mkdirSync(release);
  try {
    fs.copyFileSync(paths.addon, path.join(release, 'velmora_node_sys.node'));
    for (const versions of [{}, { nw: '0.117.0', 'node-webkit': '0.117.0' }]) {
      assert.strictEqual(requireIn(loaderPath, '131', 'x64', versions).path(installed),
                         path.join(release, 'velmora_node_sys.node'));
    }
  } finally {
    fs.unlinkSync(path.join(release, 'velmora_node_sys.node'));
    fs.rmdirSync(release);
    fs.rmdirSync(path.dirname(release));
  }
});
