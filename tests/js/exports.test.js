'use strict';
// What loading the addon gives the script.
const assert = require('assert');
const { test, paths } = require('./harness');
const addon = require(paths.addon);

const bound = ['getUserIdleTime', 'getProcessesOfSameExeFile', 'findChromeWindow', 'watch', 'unwatch'];

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
});
