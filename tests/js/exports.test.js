'use strict';
// What loading the addon gives the script, and how its functions read their arguments.
const assert = require('assert');
const { test, paths } = require('./harness');
const addon = require(paths.addon);

const bound = ['getUserIdleTime', 'getKnownDirectory', 'getProcessesOfSameExeFile',
  'findChromeWindow', 'getKeyState', 'simulateKeys', 'setBadge', 'watch', 'unwatch'];

// The functions that read a text argument first.
const textFunctions = ['getKnownDirectory', 'getKeyState', 'simulateKeys', 'setBadge'];

test('exports holds the bound functions in binding order, each named as bound', () => {
  assert.deepStrictEqual(Object.keys(addon), bound);
  for (const name of bound) {
    assert.strictEqual(typeof addon[name], 'function');
    assert.strictEqual(addon[name].name, name);
  }
});

test('extra arguments change nothing', () => {
  assert.strictEqual(addon.findChromeWindow(1, 2, 3), addon.findChromeWindow());
  assert.deepStrictEqual(addon.getProcessesOfSameExeFile(0, 'x', {}).map((p) => p.pid),
                         addon.getProcessesOfSameExeFile(0).map((p) => p.pid));
  assert.strictEqual(addon.getKnownDirectory('Desktop', 'Windows', 1), addon.getKnownDirectory('Desktop'));
  assert.strictEqual(addon.getKeyState('Shift', 'Ctrl'), addon.getKeyState('Shift'));
  assert.strictEqual(addon.setBadge('1', '2'), undefined);
});

test('a text argument is the value as a string; a missing one reads as "undefined"', () => {
  const desktop = addon.getKnownDirectory('Desktop');
  assert.notStrictEqual(desktop, '');
  assert.strictEqual(addon.getKnownDirectory({ toString: () => 'Desktop' }), desktop);
  assert.strictEqual(addon.getKnownDirectory(['Desktop']), desktop);
  assert.strictEqual(addon.getKnownDirectory(), addon.getKnownDirectory('undefined'));
  assert.strictEqual(addon.getKeyState(), addon.getKeyState('undefined'));
  assert.strictEqual(addon.simulateKeys(), undefined);
  assert.strictEqual(addon.setBadge(), undefined);
});

test('a conversion that throws reaches the script as it was thrown', () => {
  const failure = new Error('no text');
  const throwing = { toString() { throw failure; } };
  for (const name of textFunctions) {
    assert.throws(() => addon[name](Symbol('text')), TypeError, name);
    assert.throws(() => addon[name](throwing), (e) => e === failure, name);
  }
  // Nothing is left pending: the next call answers as usual.
  assert.notStrictEqual(addon.getKnownDirectory('Desktop'), '');
});
