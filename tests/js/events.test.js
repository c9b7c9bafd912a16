'use strict';
// watch and unwatch on the shipped addon: their states, the callback's calls
// and the event sources that the first watch starts. Events are made by
// sending the addon's hidden window the messages that the system would send
// it (wine sends none of them on its own).
const assert = require('assert');
const path = require('path');
const { test, paths, sleep, waitFor } = require('./harness');
const addon = require(paths.addon);
const driver = require(path.win32.join(paths.testAddons, 'event_window_driver.node'));

const WM_WTSSESSION_CHANGE = 0x02b1;
const WTS_SESSION_LOCK = 7;
const WTS_SESSION_UNLOCK = 8;

// A callback that records its calls as [type, state] pairs.
function recorder() {
  const events = [];
  const callback = (type, state) => events.push([type, state]);
  return { events, callback };
}

test('unwatch before any watch is false', () => {
  assert.strictEqual(addon.unwatch(), false);
});

test('the first watch starts the sources: one hidden window, and ("network", "on") first', async () => {
  // The Wtsapi32.dll double fails the first session registration; wine has no
  // Global\TermSrvReadyEvent, so the window's timer retries it (last case).
  process.env.VELMORA_SESSION_REGISTRATION_FAILURES = '1';
  const first = recorder();
  assert.strictEqual(addon.watch(first.callback), 0);
  // The network is reported alive, so the first poll posts "on".
  assert.ok(await waitFor(() => first.events.length > 0, 5000), 'an event within 5 s');
  assert.deepStrictEqual(first.events, [['network', 'on']]);
  assert.ok(await waitFor(() => driver.countEventWindows() === 1, 5000), 'the hidden window');
});

test('a second watch answers 1, and later events reach only its callback', async () => {
  const first = recorder();
  const second = recorder();
  assert.strictEqual(addon.watch(first.callback), 1);
  assert.strictEqual(addon.watch(second.callback), 1);
  driver.send(WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK);
  assert.ok(await waitFor(() => second.events.length > 0, 5000), 'delivered');
  assert.deepStrictEqual(second.events, [['session', 'lock']]);
  assert.deepStrictEqual(first.events, []);
});

test('unwatch answers true once, then false', () => {
  assert.strictEqual(addon.unwatch(), true);
  assert.strictEqual(addon.unwatch(), false);
});

test('watch after unwatch answers 0 and starts no second window or poller', async () => {
  const again = recorder();
  assert.strictEqual(addon.watch(again.callback), 0);
  // A second poller would start from "unknown" and post ("network", "on")
  // again at its first poll; two polls pass here.
  await sleep(2000);
  assert.strictEqual(driver.countEventWindows(), 1);
  driver.send(WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK);
  assert.ok(await waitFor(() => again.events.length > 0, 5000), 'delivered');
  assert.deepStrictEqual(again.events, [['session', 'unlock']]);
});

test('the callback gets exactly two strings and the receiver null', async () => {
  const calls = [];
  addon.watch(function strictCallback() {
    'use strict';
    calls.push({ receiver: this, args: Array.from(arguments) });
  });
  driver.send(WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK);
  assert.ok(await waitFor(() => calls.length > 0, 5000), 'delivered');
  assert.deepStrictEqual(calls, [{ receiver: null, args: ['session', 'lock'] }]);
});

test('a value that is not a function is kept but never called; its events are dropped', async () => {
  for (const value of [42, 'callback', {}, undefined]) {
    assert.strictEqual(addon.watch(value), 1);
    driver.send(WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK);
    await sleep(100);
  }
  assert.strictEqual(addon.unwatch(), true);
  assert.strictEqual(addon.watch(), 0);
  driver.send(WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK);
  await sleep(100);
  const later = recorder();
  assert.strictEqual(addon.watch(later.callback), 1);
  driver.send(WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK);
  assert.ok(await waitFor(() => later.events.length > 0, 5000), 'delivered');
  await sleep(100);
  assert.deepStrictEqual(later.events, [['session', 'unlock']]);
  assert.strictEqual(addon.unwatch(), true);
});

test('without Global\\TermSrvReadyEvent a failed session registration is retried on a timer', async () => {
  assert.ok(await waitFor(() => process.env.VELMORA_SESSION_REGISTRATIONS === '2', 10000));
});
