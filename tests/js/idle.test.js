'use strict';
// getUserIdleTime.
const assert = require('assert');
const { test, paths, sleep } = require('./harness');
const addon = require(paths.addon);

test('idle time is a whole number of milliseconds, never negative, and grows without input', async () => {
  const first = addon.getUserIdleTime();
  assert.ok(Number.isInteger(first) && first >= 0 && first <= 4294967295, `idle ${first}`);
  await sleep(300);
  const second = addon.getUserIdleTime();
  assert.ok(second >= first + 250, `idle ${first} then ${second}`);
});
