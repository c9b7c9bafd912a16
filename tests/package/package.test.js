'use strict';
// The addon as a package, checked on the host (Linux node):
//   node package.test.js SOURCE_DIR NODE_DIR "SOURCES" "LIBRARIES"
// with the main build's addon sources and system libraries as CMake lists.
// It cannot build with MSVC here; it checks what can be checked without it.
const assert = require('assert');
const childProcess = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { test } = require('node:test');

const [sourceDir, nodeDir, sources, libraries] = process.argv.slice(2);
const tools = path.join(__dirname, 'node_modules', '.bin');

function run(command, args, cwd) {
  return childProcess.execFileSync(command, args, { cwd, encoding: 'utf8', stdio: 'pipe' });
}

test('binding.gyp builds the sources and links the libraries of the main build', () => {
  const gyp = JSON.parse(fs.readFileSync(path.join(sourceDir, 'binding.gyp'), 'utf8'));
  assert.strictEqual(gyp.targets.length, 1);
  const [target] = gyp.targets;
  assert.strictEqual(target.target_name, 'velmora_node_sys');
  assert.deepStrictEqual(target.sources, sources.split(';'));
  assert.deepStrictEqual(target.libraries, libraries.split(';').map((name) => `${name}.lib`));
});

test('the package as published holds what node-gyp needs, and node 9.11.2 headers configure it', () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'velmora-package-'));
  try {
    const tarball = run('npm', ['pack', '--silent', '--pack-destination', dir], sourceDir).trim();
    run('tar', ['-xzf', path.join(dir, tarball), '-C', dir]);
    const unpacked = path.join(dir, 'package');
    const manifest = JSON.parse(fs.readFileSync(path.join(unpacked, 'package.json'), 'utf8'));
    assert.strictEqual(manifest.name, 'velmora_node_sys');
    assert.strictEqual(manifest.gypfile, true);
    assert.deepStrictEqual(manifest.dependencies, undefined);
    for (const file of [manifest.main, manifest.types, ...sources.split(';')]) {
      assert.ok(fs.existsSync(path.join(unpacked, file)), `${file} is in the package`);
    }
    run(path.join(tools, 'node-gyp'), ['configure', `--nodedir=${nodeDir}`], unpacked);
    const makefile = fs.readFileSync(path.join(unpacked, 'build', 'velmora_node_sys.target.mk'), 'utf8');
    for (const source of sources.split(';')) {
      const object = source.replace(/\.cc$/, '.o');
      assert.ok(makefile.includes(object), `node-gyp builds ${source}`);
    }
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

test('index.d.ts types a client script, and its misuses fail to compile', () => {
  run(path.join(tools, 'tsc'),
      ['--noEmit', '--strict', '--module', 'commonjs', '--target', 'es2017', 'usage.ts'], __dirname);
});
