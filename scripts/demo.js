'use strict';
// The deliverables in dist/ at work, inside Windows node.exe 9.11.2.
const path = require('path');
const dist = path.win32.join(process.env.VELMORA_BUILD, '..', 'dist');

const addon = require(path.win32.join(dist, 'velmora_node_sys.node'));
console.log(`velmora_node_sys exports: ${Object.keys(addon).join(', ')}`);
console.log(`getUserIdleTime() = ${addon.getUserIdleTime()}`);
console.log(`getProcessesOfSameExeFile() = ${JSON.stringify(addon.getProcessesOfSameExeFile())} (this is ${process.pid})`);
console.log(`findChromeWindow() = ${addon.findChromeWindow()} (no client window here)`);
for (const name of ['Desktop', 'LocalAppData', 'Windows', 'NoSuchFolder']) {
  console.log(`getKnownDirectory(${JSON.stringify(name)}) = ${JSON.stringify(addon.getKnownDirectory(name))}`);
}
for (const name of ['Shift', 'Ctrl', 'Caps']) {
  console.log(`getKeyState(${JSON.stringify(name)}) = ${addon.getKeyState(name)}`);
}

// velmora_capture.exe from dist/, beside the tests' stand-in for NiuNiuCapture.dll.
const childProcess = require('child_process');
const fs = require('fs');
const os = require('os');
const captureDir = fs.mkdtempSync(path.join(os.tmpdir(), 'capture-demo-'));
fs.copyFileSync(path.win32.join(dist, 'velmora_capture.exe'), path.join(captureDir, 'velmora_capture.exe'));
fs.copyFileSync(path.win32.join(process.env.VELMORA_BUILD, 'mingw-i686', 'tests', 'helpers', 'capture_double.dll'),
  path.join(captureDir, 'NiuNiuCapture.dll'));
for (const result of [1, 2, 0, -1]) {
  const env = Object.assign({}, process.env, {
    CAPTURE_DOUBLE_LOG: path.join(captureDir, 'calls.log'), CAPTURE_DOUBLE_RESULT: String(result), CAPTURE_DOUBLE_CALLBACK: 'thread',
  });
  const run = childProcess.spawnSync(path.join(captureDir, 'velmora_capture.exe'), ['-o', 'shot.png', '-k', 'demo'], { stdio: 'ignore', env });
  console.log(`velmora_capture -o shot.png -k demo, capture result ${result}: exit code ${run.status}`);
}

// veltools.exe puts three files on the clipboard as a file list and prints
// the list back, one UTF-8 line a path.
const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'demo-'));
const files = ['notes.txt', 'Zoë café.txt', '😀 party.png'].map((name) => path.join(folder, name));
files.forEach((file) => fs.writeFileSync(file, ''));
const veltools = path.win32.join(dist, 'veltools.exe');
const set = childProcess.spawnSync(veltools, ['clipboard', 'setfiles', ...files]);
console.log(`veltools clipboard setfiles (${files.length} files) = exit ${set.status}`);
const get = childProcess.spawnSync(veltools, ['clipboard', 'getfiles']);
console.log(`veltools clipboard getfiles = exit ${get.status}:\n${String(get.stdout).trimRight()}`);

// System events for three seconds, the power events too; under wine at least
// ("powersource", "ac") and ("network", "on"). Last, since the programs
// above hold the script thread: the three seconds start once they are done.
console.log(`watch(callback, { power: true }) = ${addon.watch((type, state) => console.log(`event ("${type}", "${state}")`), { power: true })}`);
setTimeout(() => console.log(`unwatch() = ${addon.unwatch()}`), 3000);
