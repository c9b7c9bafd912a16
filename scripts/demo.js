'use strict';
// The deliverables in dist/ at work, inside Windows node.exe 9.11.2.
const path = require('path');
const dist = path.win32.join(process.env.VELMORA_BUILD, '..', 'dist');

const addon = require(path.win32.join(dist, 'velmora_node_sys.node'));
console.log(`velmora_node_sys exports: ${Object.keys(addon).join(', ')}`);
console.log(`getUserIdleTime() = ${addon.getUserIdleTime()}`);
console.log(`getProcessesOfSameExeFile() = ${JSON.stringify(addon.getProcessesOfSameExeFile())} (this is ${process.pid})`);
console.log(`findChromeWindow() = ${addon.findChromeWindow()} (no client window here)`);

// System events for three seconds; under wine at least ("network", "on").
console.log(`watch() = ${addon.watch((type, state) => console.log(`event ("${type}", "${state}")`))}`);
setTimeout(() => console.log(`unwatch() = ${addon.unwatch()}`), 3000);
