'use strict';
// Runs as the child of window_host (see there): checks findChromeWindow
// before and after the host switches its windows.
const assert = require('assert');
const fs = require('fs');
const { test, paths, waitFor } = require('./harness');
const addon = require(paths.addon);

const signal = process.env.VELMORA_SIGNAL;

test('the render window is found as the host laid it out, then kept or searched again', async () => {
  const expectedBefore = Number(process.env.VELMORA_EXPECTED);
  const first = addon.findChromeWindow();
  assert.strictEqual(first, expectedBefore);
  assert.strictEqual(addon.findChromeWindow(), first);

  fs.writeFileSync(signal, '');
  assert.ok(await waitFor(() => fs.existsSync(`${signal}.ready`), 10000), 'host switched its windows');
  const expectedAfter = Number(fs.readFileSync(`${signal}.ready`, 'utf8'));
  const second = addon.findChromeWindow();
  // A found handle is kept even after its window is gone; 0 searches again.
  assert.strictEqual(second, first !== 0 ? first : expectedAfter);
});
