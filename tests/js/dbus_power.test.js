'use strict';
// The Linux core's power events, opted into: logind's sleep and shutdown with
// its delay locks, UPower's power source and battery, against their stand-ins
// on a private system bus. Nothing sleeps or shuts down here: the stand-in
// sends the signals that real logind sends, and lists the locks it is given.
const assert = require('assert');
const { test, paths, sleep, waitFor, startBus, startMock, startLogind, expectEvents } = require('./harness');
const addon = require(paths.addon);

const LOGIN1 = ['org.freedesktop.login1', '/org/freedesktop/login1'];
const UPOWER = ['org.freedesktop.UPower', '/org/freedesktop/UPower'];
const MOCK = 'org.freedesktop.DBus.Mock';
const SLEEP_LOCK = 'sleep node Closing connections before sleep delay';
const SHUTDOWN_LOCK = 'shutdown node Saving state before shutdown delay';
let system;

// The events, as "type state" texts; onEvent runs inside the callback first.
const events = [];
let onEvent = () => {};
const record = (type, state) => {
  if (type === 'network') return;
  onEvent(state);
  events.push(`${type} ${state}`);
};

// The locks that logind's stand-in lists, as "what who why mode" texts.
const locks = () => Array.from(system.call(...LOGIN1, 'org.freedesktop.login1.Manager.ListInhibitors')
  .matchAll(/\('(\w+)', '([^']*)', '([^']*)', '(\w+)'/g), (match) => match.slice(1).join(' '));
const emit = (signal, value) => () => system.call(...LOGIN1, `${MOCK}.EmitSignal`, 'org.freedesktop.login1.Manager',
                                                  signal, 'b', `[<${value}>]`);
const setOnBattery = (value) => () => system.call(...UPOWER, 'org.freedesktop.DBus.Properties.Set',
                                                  'org.freedesktop.UPower', 'OnBattery', `<${value}>`);
const setDevice = (properties) => () => system.call(...UPOWER, `${MOCK}.SetDeviceProperties`,
                                                    '/org/freedesktop/UPower/devices/DisplayDevice', properties);
// Holds the script thread, as a callback that takes ms does.
const hold = (ms) => Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, Math.max(ms, 0));

test('without the option no lock is taken, logind is never asked for one, and no power event comes', async () => {
  system = await startBus();
  await startLogind(system, { sessions: ['c1'], by_pid: 'c1' });
  await startMock(system, UPOWER[0], ['--template', 'upower']);
  setDevice("{'Type': <uint32 2>, 'IsPresent': <true>, 'Percentage': <42.0>}")();
  process.env.DBUS_SYSTEM_BUS_ADDRESS = system.address;
  delete process.env.DBUS_SESSION_BUS_ADDRESS;
  assert.strictEqual(addon.watch(record), 0);
  await expectEvents(events, [sleep.bind(null, 1000), emit('PrepareForSleep', true), emit('PrepareForSleep', false),
                              emit('PrepareForShutdown', true), setOnBattery(true), setOnBattery(false)], []);
  assert.deepStrictEqual(locks(), []);
  assert.ok(!system.call(...LOGIN1, `${MOCK}.GetCalls`).includes("'Inhibit'"));
});

test('opting in posts the current power state first and takes both delay locks', async () => {
  await expectEvents(events, [() => assert.strictEqual(addon.watch(record, { power: true }), 1)],
                     ['powersource ac', 'battery 42']);
  assert.deepStrictEqual(locks(), [SLEEP_LOCK, SHUTDOWN_LOCK]);
});

test('suspend: the sleep lock stays while a 500 ms callback runs and goes after it; resume takes it again', async () => {
  let during;
  let returned;
  onEvent = (state) => {
    if (state !== 'suspend') return;
    const start = Date.now();
    during = locks();
    hold(500 - (Date.now() - start));
    returned = Date.now();
  };
  await expectEvents(events, [emit('PrepareForSleep', true)], ['system suspend']);
  assert.deepStrictEqual(during, [SLEEP_LOCK, SHUTDOWN_LOCK]);
  assert.ok(await waitFor(() => !locks().includes(SLEEP_LOCK), 2000));
  assert.ok(Date.now() - returned < 1000, `released ${Date.now() - returned} ms after the callback returned`);
  assert.deepStrictEqual(locks(), [SHUTDOWN_LOCK]);
  await expectEvents(events, [emit('PrepareForSleep', false)], ['system resume']);
  assert.deepStrictEqual(locks(), [SHUTDOWN_LOCK, SLEEP_LOCK]);
});

test('a callback that takes 5 s: the lock goes after 3 s, while the other sources go on', async () => {
  const seen = {};
  onEvent = (state) => {
    if (state !== 'suspend') return;
    const start = Date.now();
    hold(2500);
    seen.at2500 = locks();
    hold(3500 - (Date.now() - start));
    seen.at3500 = locks();
    system.call(LOGIN1[0], '/org/freedesktop/login1/session/c1', 'org.freedesktop.login1.Session.SetLockedHint', 'true');
    hold(5000 - (Date.now() - start));
  };
  await expectEvents(events, [emit('PrepareForSleep', true)], ['system suspend', 'session lock']);
  assert.deepStrictEqual(seen, { at2500: [SHUTDOWN_LOCK, SLEEP_LOCK], at3500: [SHUTDOWN_LOCK] });
  await expectEvents(events, [emit('PrepareForSleep', false)], ['system resume']);
  assert.deepStrictEqual(locks(), [SHUTDOWN_LOCK, SLEEP_LOCK]);
});

test('shutdown the same way; a shutdown called off takes the lock again', async () => {
  let during;
  onEvent = (state) => {
    if (state !== 'shutdown') return;
    during = locks();
    hold(500);
  };
  await expectEvents(events, [emit('PrepareForShutdown', true)], ['system shutdown']);
  assert.deepStrictEqual(during, [SHUTDOWN_LOCK, SLEEP_LOCK]);
  assert.ok(await waitFor(() => locks().length === 1, 2000));
  assert.deepStrictEqual(locks(), [SLEEP_LOCK]);
  await expectEvents(events, [emit('PrepareForShutdown', false)], []);
  assert.deepStrictEqual(locks(), [SLEEP_LOCK, SHUTDOWN_LOCK]);
});

test('the power source and the battery level: changes, repeats, rounding and a UPS', async () => {
  onEvent = () => {};
  await expectEvents(events, [
    setOnBattery(true), setOnBattery(true), setDevice("{'Percentage': <42.4>}"), setDevice("{'Percentage': <42.5>}"),
    setDevice("{'Percentage': <42.49>}"), setDevice("{'Percentage': <100.0>}"),
    // Only a battery that is present has a level; a UPS is the source while on battery.
    setDevice("{'IsPresent': <false>}"), setDevice("{'Percentage': <50.0>}"), setDevice("{'Type': <uint32 3>}"),
    setDevice("{'IsPresent': <true>}"), setOnBattery(false), setDevice("{'Type': <uint32 2>}"),
  ], ['powersource battery', 'battery 43', 'battery 42', 'battery 100', 'powersource ups', 'powersource ac',
      'battery 50']);
});

test('turning the option off releases the locks and ends the power events; on again, the state comes again', async () => {
  assert.strictEqual(addon.watch(record), 1);
  assert.ok(await waitFor(() => locks().length === 0, 2000), 'released');
  await expectEvents(events, [emit('PrepareForSleep', true), emit('PrepareForSleep', false), setOnBattery(true)], []);
  await expectEvents(events, [() => addon.watch(record, { power: true })], ['powersource battery', 'battery 50']);
  assert.deepStrictEqual(locks(), [SLEEP_LOCK, SHUTDOWN_LOCK]);
  assert.strictEqual(addon.unwatch(), true);
  assert.ok(await waitFor(() => locks().length === 0, 2000), 'released at unwatch');
});
