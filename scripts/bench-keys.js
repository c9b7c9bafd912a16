'use strict';
// Run by "scripts/bench.sh keys": the cost per call, from script, of four
// functions, next to the same Win32 calls made from native code (the floor),
// and for the two cheapest, the core's routine behind the call, called from
// native code: the script call's excess over it is the binding's.
const path = require('path');
const { printCosts } = require('./bench-per-call');
const addon = require(path.win32.join(process.env.VELMORA_BUILD, 'addon-x64', 'src', 'velmora_node_sys.node'));
const direct = require(path.win32.join(process.env.VELMORA_BUILD, 'addon-x64', 'tests', 'addon',
                                       'velmora_direct.node'));

// [label, script call, calls per round, Win32 floor, the core's routine]
printCosts([
  ['getKeyState("Shift")', () => addon.getKeyState('Shift'), 20000, 'getKeyState', 'core:getKeyState'],
  ['getKnownDirectory("Desktop")', () => addon.getKnownDirectory('Desktop'), 3000, 'getKnownDirectory', null],
  ['getUserIdleTime()', () => addon.getUserIdleTime(), 50000, 'getUserIdleTime', null],
  ['simulateKeys("F24")', () => addon.simulateKeys('F24'), 5000, 'simulateKeys', 'core:simulateKeys'],
], direct.nativeCost, ['native', 'core']);
