'use strict';
// Run by "scripts/bench.sh linux-keys": the cost per call, from script, of
// six functions of the Linux addon, next to the same X and /proc work done
// from native code (tests/linux/direct.cc, the floor) in the same run, on the
// Linux session's Xvfb display. findChromeWindow searches at every call: the
// windows of a window host are on the display, but none of this process's
// ancestors owns them.
const childProcess = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { printCosts } = require('./bench-per-call');
const build = process.env.VELMORA_BUILD;
const addon = require(path.join(build, 'linux-x64', 'src', 'velmora_node_sys.napi.node'));
const direct = require(path.join(build, 'tests', 'linux', 'velmora_linux_direct.node'));

const config = fs.mkdtempSync(path.join(os.tmpdir(), 'bench-config-'));
fs.writeFileSync(path.join(config, 'user-dirs.dirs'), ['DESKTOP', 'DOWNLOAD', 'TEMPLATES', 'PUBLICSHARE',
  'DOCUMENTS', 'MUSIC', 'PICTURES', 'VIDEOS'].map((name) => `XDG_${name}_DIR="$HOME/${name}"\n`).join(''));
process.env.XDG_CONFIG_HOME = config;
const host = childProcess.spawn(path.join(build, 'tests', 'linux', 'x11_window_host'),
                                ['raised', 'none', path.join(config, 'never'), '/bin/sleep', '600'],
                                { stdio: 'ignore', detached: true });

// The host has mapped its windows once the addon's search has them to look at.
setTimeout(() => {
  console.log(`${fs.readdirSync('/proc').filter((name) => /^\d+$/.test(name)).length} processes`);
  // [label, script call, calls per round, floor, a floor that also reads the server's events]
  printCosts([
    ['getKeyState("Shift")', () => addon.getKeyState('Shift'), 20000, 'getKeyState', null],
    ['getUserIdleTime()', () => addon.getUserIdleTime(), 20000, 'getUserIdleTime', null],
    ['simulateKeys("Shift")', () => addon.simulateKeys('Shift'), 5000, 'simulateKeys', 'simulateKeysReadingEvents'],
    ['getKnownDirectory("Desktop")', () => addon.getKnownDirectory('Desktop'), 20000, 'getKnownDirectory', null],
    ['getProcessesOfSameExeFile()', () => addon.getProcessesOfSameExeFile(), 200, 'getProcessesOfSameExeFile', null],
    ['findChromeWindow()', () => addon.findChromeWindow(), 2000, 'findChromeWindow', null],
  ], direct.nativeCost, ['native', 'with events']);
  // The host, its middle process and the sleep that stands for the script.
  process.kill(-host.pid);
}, 1000);
