'use strict';
// The event sources of a test copy of the addon: every notification that its
// hidden window maps, sent as the system would send it, forged ones, and the
// network poller and the session registration, driven by the double of
// SensApi.dll and Wtsapi32.dll in the prefix's system folder. Wine itself sends no power
// or session notification, cannot take its network down and has no
// Global\TermSrvReadyEvent; the test makes that event and sets it.
const assert = require('assert');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { test, paths, sleep, waitFor } = require('./harness');

const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'events-sources-'));
fs.copyFileSync(paths.addon, path.join(dir, 'velmora_node_sys.node'));
const driverPath = path.win32.join(paths.testAddons, 'event_window_driver.node');
// A SensApi.dll planted beside the addon, without IsNetworkAlive: the addon
// would fail to load, or to start its sources, if it took this one.
fs.copyFileSync(driverPath, path.join(dir, 'SensApi.dll'));
const addon = require(path.join(dir, 'velmora_node_sys.node'));
const driver = require(driverPath);

const WM_CLOSE = 0x0010;
const WM_POWERBROADCAST = 0x0218;
const WM_WTSSESSION_CHANGE = 0x02b1;
const PBT_POWERSETTINGCHANGE = 0x8013;

const LIDSWITCH = 'BA3E0F4D-B817-4094-A2D1-D56379E6A0F3';
const DISPLAY = '6FE69556-704A-47A0-8F24-C28D936FDA47';
const MONITOR_POWER = '02731015-4510-4526-99E6-E5A17EBD1AEA';
const USER_PRESENCE = '3C0F4548-C03F-4C4D-B9F2-237EDE686376';
const AWAY_MODE = '98A7F580-01F7-48AA-9C0F-44352C29E5C0';

let events = [];

// Sends, then expects exactly the given events, in order.
async function expectEvents(send, expected) {
  events = [];
  send();
  await waitFor(() => events.length >= expected.length, 5000);
  await sleep(100);
  assert.deepStrictEqual(events, expected);
}

test('the first poll of a connected machine posts ("network", "on"), from the system folder\'s SensApi.dll', async () => {
  process.env.VELMORA_SESSION_REGISTRATION_FAILURES = '2';
  driver.event('Global\\TermSrvReadyEvent', false);
  assert.strictEqual(addon.watch((type, state) => events.push([type, state])), 0);
  assert.ok(await waitFor(() => events.length > 0 && driver.countEventWindows() === 1, 5000));
  assert.deepStrictEqual(events, [['network', 'on']]);
});

test('a failed session registration is retried once Global\\TermSrvReadyEvent is set, then on a timer', async () => {
  const registrations = () => process.env.VELMORA_SESSION_REGISTRATIONS;
  await sleep(1000);
  assert.strictEqual(registrations(), '1');
  // The message loop runs on while it waits.
  await expectEvents(() => driver.send(WM_WTSSESSION_CHANGE, 7), [['session', 'lock']]);
  driver.event('Global\\TermSrvReadyEvent', true);
  assert.ok(await waitFor(() => registrations() === '2', 2000), registrations());
  // The second failure leaves it to the timer, every 5 s; the third call succeeds.
  assert.ok(await waitFor(() => registrations() === '3', 10000), registrations());
  await sleep(6000);
  assert.strictEqual(registrations(), '3');
});

test('forged power broadcasts post nothing and harm nothing: posted ones, and a null record', async () => {
  await expectEvents(() => {
    driver.post(WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, 0);
    driver.post(WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, 8);
    assert.strictEqual(driver.send(WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, 0), 0);
    // Posted last, it arrives once the forged ones have been handled.
    driver.post(WM_WTSSESSION_CHANGE, 7, 0);
  }, [['session', 'lock']]);
  await expectEvents(() => driver.sendPowerSetting(DISPLAY, 2, 4), [['display', 'dimmed']]);
});

// Windows does not say how it sends a power-setting change; the window reads
// the record of every broadcast that is not posted.
test('power settings arrive however they are sent: notified from another thread, sent from the window\'s own', async () => {
  await expectEvents(() => driver.sendPowerSetting(LIDSWITCH, 0, 4, 'notify'), [['lidswitch', 'close']]);
  await expectEvents(() => driver.sendPowerSetting(LIDSWITCH, 1, 4, 'own'), [['lidswitch', 'open']]);
});

test('power settings: every value of every row, values without a name, and short records', async () => {
  // The states of the values 0, 1, 2, 3 and 0xffffffff.
  const values = [0, 1, 2, 3, 0xffffffff];
  const rows = [
    [LIDSWITCH, 'lidswitch', ['close', 'open', '???', '???', '???']],
    [DISPLAY, 'display', ['off', 'on', 'dimmed', '???', '???']],
    [MONITOR_POWER, 'power', ['off', 'on', '???', '???', '???']],
    [USER_PRESENCE, 'user', ['present', '???', 'inactive', '???', '???']],
    [AWAY_MODE, 'away', ['exit', 'enter', '???', '???', '???']],
  ];
  for (const [guid, type, states] of rows) {
    await expectEvents(() => values.forEach((value) => assert.strictEqual(driver.sendPowerSetting(guid, value, 4), 0)),
                       states.map((state) => [type, state]));
    // A record whose data cannot hold the 32-bit value names no state.
    await expectEvents(() => driver.sendPowerSetting(guid, 1, 3), [[type, '???']]);
  }
  await expectEvents(() => driver.sendPowerSetting('00000000-0000-0000-0000-000000000001', 1, 4),
                     [['???', '???']]);
  // The GUID's halves are compared whole: a near miss is unknown.
  await expectEvents(() => driver.sendPowerSetting('BA3E0F4D-B817-4094-A2D1-D56379E6A0F4', 1, 4),
                     [['???', '???']]);
});

test('session changes: lock, unlock and any other code', async () => {
  await expectEvents(() => [7, 8, 1, 0, 9].forEach((code) => assert.strictEqual(driver.send(WM_WTSSESSION_CHANGE, code), 0)),
                     [['session', 'lock'], ['session', 'unlock'], ['session', '???'], ['session', '???'], ['session', '???']]);
});

test('network down, then up: one "off" and one "on", each within about a second', async () => {
  events = [];
  process.env.VELMORA_NETWORK_ALIVE = '0';
  const down = Date.now();
  assert.ok(await waitFor(() => events.length > 0, 5000), 'off arrived');
  assert.ok(Date.now() - down < 1500, `off after ${Date.now() - down} ms`);
  process.env.VELMORA_NETWORK_ALIVE = '1';
  const up = Date.now();
  assert.ok(await waitFor(() => events.length > 1, 5000), 'on arrived');
  assert.ok(Date.now() - up < 1500, `on after ${Date.now() - up} ms`);
  await sleep(2000);
  assert.deepStrictEqual(events, [['network', 'off'], ['network', 'on']]);
});

test('a failing IsNetworkAlive posts nothing and keeps the last state', async () => {
  events = [];
  process.env.VELMORA_NETWORK_ALIVE = 'error';
  await sleep(2000);
  process.env.VELMORA_NETWORK_ALIVE = '1';
  await sleep(2000);
  assert.deepStrictEqual(events, []);
});

test('a second copy of the addon cannot register the window class and runs on network events alone', async () => {
  const second = path.join(dir, 'second');
  fs.mkdirSync(second);
  fs.copyFileSync(paths.addon, path.join(second, 'velmora_node_sys.node'));
  const copy = require(path.join(second, 'velmora_node_sys.node'));
  const copyEvents = [];
  assert.strictEqual(copy.watch((type, state) => copyEvents.push([type, state])), 0);
  assert.ok(await waitFor(() => copyEvents.length > 0, 5000), 'an event');
  assert.deepStrictEqual(copyEvents, [['network', 'on']]);
  assert.strictEqual(driver.countEventWindows(), 1);
  assert.strictEqual(copy.unwatch(), true);
});

test('WM_CLOSE ends the notifications: no event of any kind afterwards, network included', async () => {
  events = [];
  assert.strictEqual(driver.send(WM_CLOSE, 0), 0);
  // The window thread ends; the system then destroys its window.
  assert.ok(await waitFor(() => driver.countEventWindows() === 0, 5000), 'window gone');
  process.env.VELMORA_NETWORK_ALIVE = '0';
  await sleep(2000);
  assert.strictEqual(addon.unwatch(), true);
  assert.strictEqual(addon.watch((type, state) => events.push([type, state])), 0);
  process.env.VELMORA_NETWORK_ALIVE = '1';
  await sleep(2000);
  assert.deepStrictEqual(events, []);
  assert.strictEqual(addon.unwatch(), true);
});
