'use strict';
// Run by "scripts/bench.sh veltools": wall time of dist/veltools.exe setting
// and reading 1, 100 and 10,000 paths, then reading lists of 1,000, 100,000
// and 1,000,000 names that clipboard_helper places (more than a command line
// holds), next to the start-to-exit time of noop.exe (a 32-bit program built
// the same way, importing the same DLLs, that does nothing), all started
// from node.exe in the same run and taken in turns. Prints the median of
// each in milliseconds and its ratio to noop.
const childProcess = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

const build = process.env.VELMORA_BUILD;
const veltools = path.win32.join(build, '..', 'dist', 'veltools.exe');
const helpers = path.win32.join(build, 'mingw-i686', 'tests', 'helpers');
const noop = path.win32.join(helpers, 'noop.exe');
const RUNS = 21;

function milliseconds(exe, args) {
  const start = process.hrtime();
  const result = childProcess.spawnSync(exe, args, { maxBuffer: 1 << 26 });
  const [seconds, nanoseconds] = process.hrtime(start);
  if (result.status !== 0) throw new Error(`${exe} ${args[1] || ''} exited with ${result.status}`);
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
