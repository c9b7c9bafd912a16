'use strict';
// The addon as a package, checked on the host (Linux node):
//   node package.test.js SOURCE_DIR NODE_DIR "V8_SOURCES" "NAPI_SOURCES" "LIBRARIES" CLIENT_DIR "PREBUILTS"
// with the main build's sources of the V8 and the Node-API addon, system
// libraries and prebuilt binaries (under prebuilds/) as CMake lists.
// It cannot build with MSVC here; it checks what can be checked without it,
// and leaves in CLIENT_DIR a client package with the addon installed, which
// the wine tests load.
const assert = require('assert');
const childProcess = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { test } = require('node:test');

const [sourceDir, nodeDir, v8Sources, napiSources, libraries, clientDir, binaries] = process.argv.slice(2);
const prebuilts = binaries.split(';').map((binary) => `prebuilds/${binary}`);
const tools = path.join(__dirname, 'node_modules', '.bin');

function run(command, args, cwd, env) {
  return childProcess.execFileSync(command, args, { cwd, env, encoding: 'utf8', stdio: 'pipe' });
}

// The package as `npm pack` makes it, in a folder of its own.
function pack() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'velmora-package-'));
  const tarball = path.join(dir, run('npm', ['pack', '--silent', '--pack-destination', dir], sourceDir).trim());
  return { dir, tarball };
}

// The Node-API binding unless the V8 one is asked for, as node-gyp passes an
// unknown option on (--velmora-v8): a V8 binary is safe only in the runtime
// whose headers built it.
test('binding.gyp builds the sources and links the libraries of the main build', () => {
  const gyp = JSON.parse(fs.readFileSync(path.join(sourceDir, 'binding.gyp'), 'utf8'));
  assert.strictEqual(gyp.targets.length, 1);
  const [target] = gyp.targets;
  assert.strictEqual(target.target_name, 'velmora_node_sys');
  assert.deepStrictEqual(gyp.variables, { 'velmora_v8%': 'false' });
  assert.deepStrictEqual(target.conditions, [["velmora_v8=='true'", { sources: v8Sources.split(';') },
    { sources: napiSources.split(';'), defines: ['NAPI_VERSION=3'] }]]);
  assert.deepStrictEqual(target.libraries, libraries.split(';').map((name) => `${name}.lib`));
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

test('the package as published holds what node-gyp needs, and node 9.11.2 headers configure it', () => {
  const { dir, tarball } = pack();
  try {
    run('tar', ['-xzf', tarball, '-C', dir]);
    const unpacked = path.join(dir, 'package');
    const manifest = JSON.parse(fs.readFileSync(path.join(unpacked, 'package.json'), 'utf8'));
    assert.strictEqual(manifest.name, 'velmora_node_sys');
    assert.deepStrictEqual(manifest.dependencies, { 'node-gyp-build': '4.8.4' });
    assert.deepStrictEqual(manifest.cpu, ['x64', 'ia32']);
    const sources = new Set([...v8Sources.split(';'), ...napiSources.split(';')]);
    for (const file of [manifest.main, manifest.types, manifest.prebuild.test, ...prebuilts, ...sources]) {
      assert.ok(fs.existsSync(path.join(unpacked, file)), `${file} is in the package`);
    }
    for (const [options, built] of [[[], napiSources], [['--velmora-v8'], v8Sources]]) {
      run(path.join(tools, 'node-gyp'), ['configure', `--nodedir=${nodeDir}`, ...options], unpacked);
      const makefile = fs.readFileSync(path.join(unpacked, 'build', 'velmora_node_sys.target.mk'), 'utf8');
      const objects = Array.from(makefile.matchAll(/\$\(obj\)\.target\/\$\(TARGET\)\/(\S+)\.o/g), (m) => `${m[1]}.cc`);
      assert.deepStrictEqual(objects.sort(), built.split(';').sort(), `node-gyp configure ${options}`);
    }
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

// npm runs the install script with node and sh alone on its PATH, so that any
// build from source would fail: the install must not need one, although the
// node that runs it is neither Windows' nor the addon's.
test('a client installs the package from its tarball without building it', () => {
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
    run(process.execPath, [npm, 'install', '--force', '--no-audit', '--no-fund', tarball], clientDir, env);
    const installed = path.join(clientDir, 'node_modules', 'velmora_node_sys');
    assert.deepStrictEqual(fs.readdirSync(installed).filter((name) => name === 'build'), []);
    for (const prebuilt of prebuilts) assert.ok(fs.existsSync(path.join(installed, prebuilt)), prebuilt);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

test('index.d.ts types a client script, and its misuses fail to compile', () => {
  run(path.join(tools, 'tsc'),
      ['--noEmit', '--strict', '--module', 'commonjs', '--target', 'es2017', 'usage.ts'], __dirname);
});
