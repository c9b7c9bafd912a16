'use strict';
// The Linux addon in dist/ at work, inside Linux node on the session's Xvfb
// display.
const path = require('path');
const dist = path.join(process.env.VELMORA_BUILD, '..', 'dist');

const addon = require(path.join(dist, 'linux-x64', 'velmora_node_sys.node'));
console.log(`velmora_node_sys (dist/linux-x64) in Linux node ${process.version} exports: ${Object.keys(addon).join(', ')}`);
console.log(`getUserIdleTime() = ${addon.getUserIdleTime()}`);
console.log(`getProcessesOfSameExeFile() = ${JSON.stringify(addon.getProcessesOfSameExeFile())} (this is ${process.pid})`);
console.log(`findChromeWindow() = ${addon.findChromeWindow()} (no client window here)`);
for (const name of ['Desktop', 'Documents', 'RoamingAppData', 'LocalAppData', 'Windows', 'NoSuchFolder']) {
  console.log(`getKnownDirectory(${JSON.stringify(name)}) = ${JSON.stringify(addon.getKnownDirectory(name))}`);
}
for (const name of ['Shift', 'Ctrl', 'Caps']) {
  console.log(`getKeyState(${JSON.stringify(name)}) = ${addon.getKeyState(name)}`);
}
console.log(`setBadge("3") = ${addon.setBadge('3')}`);

// System events for three seconds, the power events too.
console.log(`watch(callback, { power: true }) = ${addon.watch((type, state) => console.log(`event ("${type}", "${state}")`), { power: true })}`);
setTimeout(() => console.log(`unwatch() = ${addon.unwatch()}`), 3000);
