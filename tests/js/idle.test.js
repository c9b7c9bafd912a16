'use strict';
// getUserIdleTime; on Linux, on an X display of its own, which the cases
// stop and bring back.
const assert = require('assert');
const { test, paths, sleep, runLogged, startXvfb, xClient } = require('./harness');
const addon = require(paths.addon);

const linux = process.platform === 'linux';
let x;

if (linux) {
  test('a display of its own, taken before the first X call', async () => {
    x = await startXvfb();
    process.env.DISPLAY = x.display;
  });
}

test('idle time is a whole number of milliseconds, never negative, and grows without input', async () => {
  const first = addon.getUserIdleTime();
  assert.ok(Number.isInteger(first) && first >= 0 && first <= 4294967295, `idle ${first}`);
  await sleep(300);
  const second = addon.getUserIdleTime();
  assert.ok(second >= first + 250, `idle ${first} then ${second}`);
});

if (linux) {
  test('a key that another X client sends brings it back to about 0', async () => {
    await sleep(500);
    const before = addon.getUserIdleTime();
    xClient(x.display, 'xdotool', ['key', 'shift']);
    const after = addon.getUserIdleTime();
    assert.ok(before >= 500 && after < before - 400, `idle ${before} then ${after}`);
  });

  test('a display that is gone gives the failure values at once; one back on its number is used again', async () => {
    assert.ok(addon.getUserIdleTime() >= 0);
    await x.stop();
    for (let i = 0; i < 2; i++) {
      const start = Date.now();
      assert.strictEqual(addon.getUserIdleTime(), -1);
      assert.strictEqual(addon.getKeyState('Shift'), 0);
      assert.strictEqual(addon.simulateKeys('Shift'), undefined);
      assert.strictEqual(addon.findChromeWindow(), 0);
      assert.ok(Date.now() - start < 2000, `${Date.now() - start} ms`);
    }
    // Another Xvfb may take the free number meanwhile; then this case fails
    // for want of the display, not of the addon.
    x = await startXvfb(x.number);
    const idle = addon.getUserIdleTime();
    assert.ok(idle >= 0 && idle < 10000, `idle ${idle}`);
  });

  test('without a display (DISPLAY unset or empty), or its extensions: -1, 0, undefined and 0', async () => {
    const script = `const a = require(${JSON.stringify(paths.addon)});
      process.stdout.write(JSON.stringify([a.getUserIdleTime(), a.getKeyState('Shift'),
                                           a.simulateKeys('Shift', 'down'), a.getKeyState('Shift')]));`;
    const lacking = await startXvfb(undefined, ['-extension', 'MIT-SCREEN-SAVER', '-extension', 'XTEST']);
    for (const env of [{}, { DISPLAY: '' }, { DISPLAY: lacking.display }]) {
      const { status, output } = runLogged(paths.nodeExe, ['-e', script], { env });
      assert.strictEqual(status, 0, output);
      assert.deepStrictEqual(JSON.parse(output), [-1, 0, null, 0], JSON.stringify(env));
    }
    await lacking.stop();
  });
}
