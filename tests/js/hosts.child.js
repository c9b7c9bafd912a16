'use strict';
// Runs in a host made by hosts.test.js: loads the stand-ins of NW.js's DLLs
// when the host's folder has them, then the addon (VELMORA_ADDON), and ends
// as MODE says once the first event has arrived: "end" (naturally, with the
// callback still stored), "exit" (process.exit(7)) or "throw" (from the
// callback, uncaught). "require" only reports whether the addon loads;
// "watch" what watch and unwatch answer.
const fs = require('fs');
const path = require('path');

const mode = process.argv[2];
for (const dll of ['node.dll', 'nw.dll']) {
  const file = path.join(path.dirname(process.execPath), dll);
  if (!fs.existsSync(file)) continue;
  // The stand-in registers no module, so dlopen throws; it stays loaded.
  try { process.dlopen({ exports: {} }, file); } catch (e) { /* expected */ }
}

let addon;
try {
  addon = require(process.env.VELMORA_ADDON);
} catch (e) {
  console.log(`require failed: ${e.message}`);
  process.exit(0);
}
if (mode === 'require') process.exit(0);
if (mode === 'watch') {
  console.log(JSON.stringify([addon.watch(() => {}), addon.unwatch(), addon.watch(() => {}), addon.unwatch()]));
  process.exit(0);
}

const answers = {
  idle: addon.getUserIdleTime() >= 0,
  desktop: addon.getKnownDirectory('Desktop') !== '',
  self: addon.getProcessesOfSameExeFile().some((p) => p.pid === process.pid),
  chromeWindow: addon.findChromeWindow(),
  shift: addon.getKeyState('Shift') < 65536,
  // No key that exists: the keyboard is shared with the other tests.
  keys: addon.simulateKeys('NoSuchKey'),
  badge: addon.setBadge('1'),
};
const status = addon.watch((type, state) => {
  console.log(`event ${type} ${state}`);
  if (mode === 'exit') process.exit(7);
  if (mode === 'throw') throw new Error('thrown by the watch callback');
});
console.log(JSON.stringify(Object.assign(answers, { watch: status, names: Object.keys(addon).length })));
