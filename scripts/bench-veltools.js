'use strict';
// Run by "scripts/bench.sh veltools": wall time of dist/veltools.exe setting
// and reading 1, 100 and 10,000 paths, then reading lists of 1,000, 100,000
// and 1,000,000 names that clipboard_helper places (more than a command line
// holds), next to the start-to-exit time of noop.exe (a 32-bit program built
// the same way, importing the same DLLs, that does nothing); then the
// start-to-exit time of dist/velmora_capture.exe, without a component and
// with the test double calling back at once, next to noop_windowed.exe (its
// own do-nothing counterpart). All are started from node.exe in the same run
// and taken in turns. Prints the median of each in milliseconds and its
// ratio to the do-nothing program.
const childProcess = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

const build = process.env.VELMORA_BUILD;
const dist = path.win32.join(build, '..', 'dist');
const veltools = path.win32.join(dist, 'veltools.exe');
const helpers = path.win32.join(build, 'mingw-i686', 'tests', 'helpers');
const noop = path.win32.join(helpers, 'noop.exe');
const RUNS = 21;

function milliseconds(exe, args, { status = 0, env } = {}) {
  const start = process.hrtime();
  const result = childProcess.spawnSync(exe, args, { maxBuffer: 1 << 26, env });
  const [seconds, nanoseconds] = process.hrtime(start);
  if (result.status !== status) throw new Error(`${exe} ${args[1] || ''} exited with ${result.status}`);
  return seconds * 1e3 + nanoseconds / 1e6;
}

function median(values) {
  return values.slice().sort((a, b) => a - b)[values.length >> 1];
}

// Typical paths; the 10,000 get one-unit names, as a command line holds at
// most 32,767 UTF-16 units.
function pathList(count) {
  if (count > 100) return Array.from({ length: count }, (_, i) => String.fromCharCode(0x4e00 + i));
  return Array.from({ length: count }, (_, i) => `C:\\Users\\someone\\Documents\\report ${i}.txt`);
}

// Places a file-drop list of count one-character names on the clipboard:
// 4 MB for a million.
function placeNames(count) {
  const header = Buffer.alloc(20);
  header.writeUInt32LE(20, 0);
  header.writeUInt32LE(1, 16);
  const names = Array.from({ length: count }, (_, i) => `${String.fromCharCode(0x4e00 + (i % 20000))}\0`).join('');
  const file = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'bench-')), 'list.bin');
  fs.writeFileSync(file, Buffer.concat([header, Buffer.from(`${names}\0`, 'utf16le')]));
  milliseconds(path.win32.join(helpers, 'clipboard_helper.exe'), ['putraw', file]);
  fs.unlinkSync(file);
}

const format = (ms, floor) => `${ms.toFixed(1).padStart(8)} ms ${(ms / floor).toFixed(2).padStart(6)}x`;
console.log(`median of ${RUNS} runs each; ratio to noop.exe in the same row`);
console.log('  paths     noop.exe       setfiles                getfiles');
for (const count of [1, 100, 10000]) {
  const list = pathList(count);
  const times = { noop: [], set: [], get: [] };
  for (let i = 0; i < RUNS; i++) {
    times.noop.push(milliseconds(noop, []));
    times.set.push(milliseconds(veltools, ['clipboard', 'setfiles', ...list]));
    times.get.push(milliseconds(veltools, ['clipboard', 'getfiles']));
  }
  const floor = median(times.noop);
  console.log(`${String(count).padStart(7)} ${floor.toFixed(1).padStart(8)} ms  ${format(median(times.set), floor)}  ${format(median(times.get), floor)}`);
}

console.log('\n  names     noop.exe       getfiles of a list placed by another program');
for (const count of [1000, 100000, 1000000]) {
  placeNames(count);
  const times = { noop: [], get: [] };
  for (let i = 0; i < RUNS; i++) {
    times.noop.push(milliseconds(noop, []));
    times.get.push(milliseconds(veltools, ['clipboard', 'getfiles']));
  }
  const floor = median(times.noop);
  console.log(`${String(count).padStart(7)} ${floor.toFixed(1).padStart(8)} ms  ${format(median(times.get), floor)}`);
}

// The launcher in a folder of its own, with the double as NiuNiuCapture.dll
// or with no component at all.
function launcherFolder(component) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'bench-capture-'));
  const exe = path.join(dir, 'velmora_capture.exe');
  fs.copyFileSync(path.join(dist, 'velmora_capture.exe'), exe);
  if (component) fs.copyFileSync(path.join(helpers, 'capture_double.dll'), path.join(dir, 'NiuNiuCapture.dll'));
  return { dir, exe };
}

console.log(`\n  ${'start to exit'.padEnd(26)} noop_windowed.exe  velmora_capture`);
const missing = launcherFolder(false);
const captured = launcherFolder(true);
const doubleEnv = Object.assign({}, process.env, {
  CAPTURE_DOUBLE_LOG: path.join(captured.dir, 'calls.log'), CAPTURE_DOUBLE_RESULT: '1', CAPTURE_DOUBLE_CALLBACK: 'sync',
});
for (const [label, exe, options] of [
  ['no component (exit 2)', missing.exe, { status: 2 }],
  ['double calls back (exit 0)', captured.exe, { env: doubleEnv }],
]) {
  const times = { noop: [], capture: [] };
  for (let i = 0; i < RUNS; i++) {
    times.noop.push(milliseconds(path.win32.join(helpers, 'noop_windowed.exe'), []));
    times.capture.push(milliseconds(exe, ['-o', 'shot.png', '-k', 'key'], options));
  }
  const floor = median(times.noop);
  console.log(`  ${label.padEnd(26)} ${floor.toFixed(1).padStart(8)} ms  ${format(median(times.capture), floor)}`);
}
