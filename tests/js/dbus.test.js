'use strict';
// The Linux core over D-Bus, against stand-ins of the desktop's services on
// private buses: logind (logind_stand_in.py), UPower and GNOME's screen saver
// (python3-dbusmock's templates), and a Mutter idle monitor. The session,
// lid and user events; services and buses that go away and come back; the
// badge; the Wayland idle time; processes with no bus, or no libdbus-1. Real
// logind, a dock that shows the badge and Mutter itself do not run here.
const assert = require('assert');
const childProcess = require('child_process');
const fs = require('fs');
const path = require('path');
const { test, paths, sleep, waitFor, startBus, startMock, startLogind, expectEvents } = require('./harness');
const addon = require(paths.addon);

const MOCK = 'org.freedesktop.DBus.Mock';
const UPOWER = ['org.freedesktop.UPower', '/org/freedesktop/UPower'];
const SAVER = ['org.gnome.ScreenSaver', '/org/gnome/ScreenSaver'];
const MUTTER = ['org.gnome.Mutter.IdleMonitor', '/org/gnome/Mutter/IdleMonitor/Core'];
const sessionPath = (id) => `/org/freedesktop/login1/session/${id}`;
let system;
let session;
let logind;

// The D-Bus sources' events, as "type state" texts; the network's are another source's.
const events = [];
const record = (type, state) => type !== 'network' && events.push(`${type} ${state}`);

const setLocked = (id, locked) => () => system.call('org.freedesktop.login1', sessionPath(id),
                                                    'org.freedesktop.login1.Session.SetLockedHint', String(locked));
const setActive = (active) => () => session.call(...SAVER, 'org.gnome.ScreenSaver.SetActive', String(active));
const setUpower = (name, value) => () => system.call(...UPOWER, 'org.freedesktop.DBus.Properties.Set',
                                                     'org.freedesktop.UPower', name, `<${value}>`);
const setIdleHint = (idle) => () => system.call('org.freedesktop.login1', sessionPath('c1'),
  `${MOCK}.UpdateProperties`, 'org.freedesktop.login1.Session', `{'IdleHint': <${idle}>}`);

test('the state at the start gives no event; a repeat gives none, a change one', async () => {
  system = await startBus();
  session = await startBus();
  logind = await startLogind(system, { sessions: ['c1', 'c2'], locked: ['c1'], by_pid: 'c1' });
  await startMock(system, UPOWER[0], ['--template', 'upower']);
  await startMock(session, SAVER[0], ['--template', 'gnome_screensaver']);
  Object.assign(process.env, { DBUS_SYSTEM_BUS_ADDRESS: system.address, DBUS_SESSION_BUS_ADDRESS: session.address,
                               XDG_SESSION_ID: 'c2' });
  assert.strictEqual(addon.watch(record), 0);
  await expectEvents(events, [sleep.bind(null, 1000), setLocked('c1', true)], []);
  await expectEvents(events, [setLocked('c1', false)], ['session unlock']);
});

test('lock and unlock come once a transition, from LockedHint, ActiveChanged or both', async () => {
  await expectEvents(events, [setActive(true), setActive(false)], ['session lock', 'session unlock']);
  await expectEvents(events, [setLocked('c1', true), setActive(true), setLocked('c1', false), setActive(false)],
                     ['session lock', 'session unlock']);
  await expectEvents(events, [setActive(true), setLocked('c1', true), setActive(false), setLocked('c1', false)],
                     ['session lock', 'session unlock']);
  // Another session of the user's is not this process's.
  await expectEvents(events, [setLocked('c2', true)], []);
});

test('the lid while one is present, and the idle hint', async () => {
  await expectEvents(events, [setUpower('LidIsClosed', true), setUpower('LidIsClosed', false)],
                     ['lidswitch close', 'lidswitch open']);
  await expectEvents(events, [setUpower('LidIsPresent', false), setUpower('LidIsClosed', true),
                              setUpower('LidIsClosed', false), setUpower('LidIsPresent', true)], []);
  await expectEvents(events, [setIdleHint(true), setIdleHint(false)], ['user inactive', 'user present']);
});

test('a service that starts again is read, and gives an event only for a state that differs', async () => {
  // Without a session of its process: $XDG_SESSION_ID's, which is locked.
  await logind.stop();
  await expectEvents(events, [async () => { logind = await startLogind(system, { sessions: ['c2'], locked: ['c2'] }); }],
                     ['session lock']);
  await expectEvents(events, [setLocked('c2', false)], ['session unlock']);
  // Without $XDG_SESSION_ID's either: the user's display session, c3.
  await logind.stop();
  logind = await startLogind(system, { sessions: ['c3', 'c4'], display: 'c3' });
  await expectEvents(events, [sleep.bind(null, 500), setLocked('c4', true), setLocked('c3', true), setLocked('c3', false)],
                     ['session lock', 'session unlock']);
});

test('buses that go away and come back: the process lives on, and events and the badge reach it again', async () => {
  await system.stop();
  await session.stop();
  await sleep(1500);
  system = await startBus(system.dir);
  session = await startBus(session.dir);
  logind = await startLogind(system, { sessions: ['c1'], by_pid: 'c1' });
  await startMock(session, SAVER[0], ['--template', 'gnome_screensaver']);
  await expectEvents(events, [sleep.bind(null, 1500), setLocked('c1', true), setActive(true), setActive(false)],
                     ['session lock', 'session unlock']);
  const badges = await monitorBadges(() => addon.setBadge('5'));
  assert.deepStrictEqual(badges, [['application://node.desktop', '5', 'true']]);
});

// The badges that the session bus carries while act runs, as [uri, count, visible].
async function monitorBadges(act) {
  const monitor = childProcess.spawn('dbus-monitor', ['--address', session.address,
    "type='signal',interface='com.canonical.Unity.LauncherEntry',member='Update'"], { stdio: ['ignore', 'pipe', 'ignore'] });
  let output = '';
  monitor.stdout.on('data', (data) => { output += data; });
  // dbus-monitor prints its own NameAcquired and NameLost first, once it listens.
  await waitFor(() => output.includes('NameLost'), 5000);
  act();
  await sleep(500);
  monitor.kill();
  const pattern = /string "(application:[^"]*)"[\s\S]*?string "count"\s+variant\s+int64 (\d+)[\s\S]*?string "count-visible"\s+variant\s+boolean (\w+)/g;
  return Array.from(output.matchAll(pattern), (match) => match.slice(1));
}

test('the badge shows a count of 1 to 2^63 - 1, named by $CHROME_DESKTOP; any other text clears it', async () => {
  process.env.CHROME_DESKTOP = 'velmora-test.desktop';
  const counts = ['3', '9223372036854775807', '007', 12];
  const clearing = ['0', '', '+3', '9+', ' 3', '-1', '3.0', '9223372036854775808', '18446744073709551617'];
  const badges = await monitorBadges(() => [...counts, ...clearing].forEach((text) => addon.setBadge(text)));
  const uri = 'application://velmora-test.desktop';
  assert.deepStrictEqual(badges, [...['3', '9223372036854775807', '7', '12'].map((count) => [uri, count, 'true']),
                                  ...clearing.map(() => [uri, '0', 'false'])]);
  delete process.env.CHROME_DESKTOP;
  // Without DBUS_SESSION_BUS_ADDRESS, $XDG_RUNTIME_DIR/bus.
  fs.symlinkSync(path.join(session.dir, 'socket'), path.join(session.dir, 'bus'));
  const env = Object.assign({}, process.env, { XDG_RUNTIME_DIR: session.dir });
  delete env.DBUS_SESSION_BUS_ADDRESS;
  const script = `require(${JSON.stringify(paths.addon)}).setBadge('4')`;
  assert.deepStrictEqual(await monitorBadges(() => childProcess.spawnSync(paths.nodeExe, ['-e', script], { env })),
                         [['application://node.desktop', '4', 'true']]);
});

test('getUserIdleTime asks GNOME\'s idle monitor on Wayland within 200 ms, and X elsewhere', async () => {
  const idleWith = (variables) => {
    delete process.env.WAYLAND_DISPLAY;
    delete process.env.XDG_SESSION_TYPE;
    Object.assign(process.env, variables);
    return addon.getUserIdleTime();
  };
  const mutter = await startMock(session, MUTTER[0], [...MUTTER, MUTTER[0]]);
  const answer = (code) => session.call(...MUTTER, `${MOCK}.AddMethod`, '', 'GetIdletime', '', 't', code);
  // X's idle time, read anew at each call, grows meanwhile.
  const likeX = (idle, xIdle) => idle === xIdle || (idle >= 0 && Math.abs(idle - xIdle) < 2000);
  answer('ret = dbus.UInt64(4242)');
  const xIdle = idleWith({});
  assert.notStrictEqual(xIdle, 4242);
  assert.ok(likeX(idleWith({ XDG_SESSION_TYPE: 'x11' }), xIdle));
  assert.strictEqual(idleWith({ WAYLAND_DISPLAY: 'wayland-0' }), 4242);
  assert.strictEqual(idleWith({ XDG_SESSION_TYPE: 'wayland' }), 4242);
  answer('ret = dbus.UInt64(2 ** 40)');
  assert.strictEqual(idleWith({ WAYLAND_DISPLAY: 'wayland-0' }), 4294967295);
  // A monitor that does not answer in time, or none: X's idle time (-1 while X's is not read).
  answer('time.sleep(1); ret = dbus.UInt64(1)');
  const start = Date.now();
  const slow = idleWith({ WAYLAND_DISPLAY: 'wayland-0' });
  assert.ok(Date.now() - start < 600, `${Date.now() - start} ms`);
  await mutter.stop();
  const absent = idleWith({ WAYLAND_DISPLAY: 'wayland-0' });
  const plain = idleWith({});
  for (const idle of [slow, absent]) assert.ok(likeX(idle, plain), `${idle} ${plain}`);
});

test('with no bus, or no libdbus-1, every function answers as before, and nothing is printed', async () => {
  const child = path.join(__dirname, 'dbus_absent.child.js');
  const expected = Object.assign(require(child).answers(addon), { watch: 0, unwatch: true, events: [] });
  const noBus = Object.assign({}, process.env, { DBUS_SYSTEM_BUS_ADDRESS: `unix:path=${system.dir}/none` });
  delete noBus.DBUS_SESSION_BUS_ADDRESS;
  delete noBus.XDG_RUNTIME_DIR;
  // The library is hidden under an empty file, in a mount namespace of the child's own.
  const hide = 'mount --bind /dev/null "$(readlink -f /usr/lib/x86_64-linux-gnu/libdbus-1.so.3)" && exec "$@"';
  for (const [command, env] of [[[paths.nodeExe], noBus],
                                [['unshare', '-m', 'sh', '-c', hide, 'sh', paths.nodeExe], process.env]]) {
    const result = childProcess.spawnSync(command[0], [...command.slice(1), child, paths.addon],
                                          { env, encoding: 'utf8', timeout: 30000 });
    assert.strictEqual(result.stderr, '', command.join(' '));
    const answers = JSON.parse(result.stdout);
    const { waylandIdle, xIdle } = answers;
    assert.ok(waylandIdle === xIdle || Math.abs(waylandIdle - xIdle) < 2000, `${waylandIdle} ${xIdle}`);
    delete answers.waylandIdle;
    delete answers.xIdle;
    assert.deepStrictEqual(answers, expected);
  }
});
