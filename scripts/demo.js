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

// veltools.exe puts three files on the clipboard as a file list and prints
// the list back, one UTF-8 line a path.
const childProcess = require('child_process');
const fs = require('fs');
const os = require('os');
const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'demo-'));
const files = ['notes.txt', 'Zoë café.txt', '😀 party.png'].map((name) => path.join(folder, name));
files.forEach((file) => fs.writeFileSync(file, ''));
const veltools = path.win32.join(dist, 'veltools.exe');
const set = childProcess.spawnSync(veltools, ['clipboard', 'setfiles', ...files]);
console.log(`veltools clipboard setfiles (${files.length} files) = exit ${set.status}`);
const get = childProcess.spawnSync(veltools, ['clipboard', 'getfiles']);
console.log(`veltools clipboard getfiles = exit ${get.status}:\n${String(get.stdout).trimRight()}`);
