'use strict';
// getProcessesOfSameExeFile: argument conversion, the listed processes and
// the shape of the result.
const assert = require('assert');
const childProcess = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { test, paths, sleep, waitFor, runLogged } = require('./harness');
const addon = require(paths.addon);

// A node.exe child that lives until killed; node.exe cannot start under wine
// with pipes for its standard streams.
function startIdleProcess(exe) {
  return childProcess.spawn(exe, ['-e', 'setTimeout(() => {}, 60000)'], { stdio: 'ignore' });
}

function pidsOf(list) {
  return list.map((item) => item.pid);
}

test('no argument, 0, a text of digits and null all mean the calling process', () => {
  for (const args of [[], [0], ['123'], [null], [undefined], [{}]]) {
    const list = addon.getProcessesOfSameExeFile(...args);
    assert.ok(pidsOf(list).includes(process.pid), `args ${JSON.stringify(args)}: ${JSON.stringify(list)}`);
  }
});

test('numbers are truncated toward zero', () => {
  assert.ok(pidsOf(addon.getProcessesOfSameExeFile(process.pid + 0.9)).includes(process.pid));
  assert.ok(pidsOf(addon.getProcessesOfSameExeFile(-0.5)).includes(process.pid));
  assert.deepStrictEqual(addon.getProcessesOfSameExeFile(1234.9), addon.getProcessesOfSameExeFile(1234));
});

test('negative, non-finite and out-of-range numbers name no process', () => {
  for (const pid of [-4, -1, NaN, Infinity, -Infinity, 2 ** 31, 2 ** 32 + process.pid, -(2 ** 32) + process.pid]) {
    assert.deepStrictEqual(addon.getProcessesOfSameExeFile(pid), [], `pid ${pid}`);
  }
});

test('children started by the test appear with this process as their parent', async () => {
  const children = [startIdleProcess(paths.nodeExe), startIdleProcess(paths.nodeExe)];
  try {
    await sleep(500);
    const list = addon.getProcessesOfSameExeFile();
    for (const child of children) {
      const found = list.filter((item) => item.pid === child.pid);
      assert.deepStrictEqual(found, [{ pid: child.pid, ppid: process.pid }]);
    }
    // Asked about a child, the answer lists the same processes.
    assert.deepStrictEqual(addon.getProcessesOfSameExeFile(children[0].pid), list);
  } finally {
    children.forEach((child) => child.kill());
  }
});

test('each element is a fresh plain object with own keys pid then ppid; no holes', () => {
  const a = addon.getProcessesOfSameExeFile();
  const b = addon.getProcessesOfSameExeFile();
  assert.ok(Array.isArray(a) && a.length >= 1);
  assert.strictEqual(Object.keys(a).length, a.length);
  a.forEach((item, i) => {
    assert.deepStrictEqual(Object.keys(item), ['pid', 'ppid']);
    assert.strictEqual(Object.getPrototypeOf(item), Object.prototype);
    assert.ok(Number.isInteger(item.pid) && Number.isInteger(item.ppid));
    assert.notStrictEqual(item, b[i]);
  });
});

test('an executable whose name differs only in letter case is another executable', async () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'case-'));
  const renamed = path.join(dir, 'NODE.EXE');
  fs.copyFileSync(paths.nodeExe, renamed);
  const child = startIdleProcess(renamed);
  try {
    await sleep(500);
    assert.ok(!pidsOf(addon.getProcessesOfSameExeFile()).includes(child.pid));
    assert.deepStrictEqual(addon.getProcessesOfSameExeFile(child.pid), [{ pid: child.pid, ppid: process.pid }]);
  } finally {
    child.kill();
  }
});

test('names that the ANSI code page cannot hold are told apart', async () => {
  // In the ANSI snapshot records both names read "???.exe" under wine.
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'wide-'));
  const children = ['\u8282\u70b9\u4e00.exe', '\u5ba2\u6237\u7aef.exe'].map((name) => {
    fs.copyFileSync(paths.nodeExe, path.join(dir, name));
    return startIdleProcess(path.join(dir, name));
  });
  try {
    await sleep(500);
    for (const child of children) {
      assert.deepStrictEqual(addon.getProcessesOfSameExeFile(child.pid), [{ pid: child.pid, ppid: process.pid }]);
    }
  } finally {
    children.forEach((child) => child.kill());
  }
});

if (process.platform === 'linux') {
  // A copy of node under a name of its own, in a folder that every user may read.
  const copyOfNode = (name) => {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'exe-'));
    fs.chmodSync(dir, 0o755);
    const copy = path.join(dir, name);
    fs.copyFileSync(paths.nodeExe, copy);
    return copy;
  };
  const running = (child, exe) => waitFor(() => {
    try {
      return fs.readlinkSync(`/proc/${child.pid}/exe`).startsWith(exe);
    } catch (e) {
      return false;
    }
  }, 10000);
  const pairsOf = (children) => children.map((child) => ({ pid: child.pid, ppid: process.pid }))
    .sort((a, b) => a.pid - b.pid);

  test('copies of one executable: each listed once with its parent, in ascending pid order', async () => {
    const exe = copyOfNode('velmora copy (1)');
    const children = [startIdleProcess(exe), startIdleProcess(exe), startIdleProcess(exe)];
    try {
      for (const child of children) assert.ok(await running(child, exe));
      const list = addon.getProcessesOfSameExeFile(children[1].pid);
      assert.deepStrictEqual(list, pairsOf(children));
      assert.deepStrictEqual(list.map((item) => item.pid), list.map((item) => item.pid).sort((a, b) => a - b));
      assert.ok(!pidsOf(addon.getProcessesOfSameExeFile()).includes(children[0].pid));
    } finally {
      children.forEach((child) => child.kill());
    }
  });

  test('an executable deleted and replaced while it runs still matches its new copy', async () => {
    const exe = copyOfNode('upgraded');
    const old = startIdleProcess(exe);
    try {
      assert.ok(await running(old, exe));
      fs.unlinkSync(exe);
      fs.copyFileSync(paths.nodeExe, exe);
      const renewed = startIdleProcess(exe);
      try {
        assert.ok(await running(renewed, exe));
        assert.strictEqual(fs.readlinkSync(`/proc/${old.pid}/exe`), `${exe} (deleted)`);
        assert.deepStrictEqual(addon.getProcessesOfSameExeFile(renewed.pid), pairsOf([old, renewed]));
        assert.deepStrictEqual(addon.getProcessesOfSameExeFile(old.pid), pairsOf([old, renewed]));
      } finally {
        renewed.kill();
      }
    } finally {
      old.kill();
    }
  });

  test('a process that has ended, and a thread that is no process of its own, give []', () => {
    const ended = childProcess.spawnSync(paths.nodeExe, ['-e', '']);
    assert.deepStrictEqual(addon.getProcessesOfSameExeFile(ended.pid), []);
    const threads = fs.readdirSync('/proc/self/task').map(Number).filter((tid) => tid !== process.pid);
    assert.ok(threads.length > 0);
    assert.deepStrictEqual(addon.getProcessesOfSameExeFile(threads[0]), []);
  });

  test('processes of another user, whose links cannot be read, are left out', async () => {
    if (process.getuid() !== 0) return console.log('  (not root: another user cannot be shown)');
    const exe = copyOfNode('shared');
    const rootChildren = [startIdleProcess(exe), startIdleProcess(exe)];
    try {
      for (const child of rootChildren) assert.ok(await running(child, exe));
      const script = `process.stdout.write(JSON.stringify([process.pid,
        require(${JSON.stringify(paths.addon)}).getProcessesOfSameExeFile()]))`;
      const { status, output } = runLogged(exe, ['-e', script], { uid: 65534, gid: 65534 });
      assert.strictEqual(status, 0, output);
      const [pid, list] = JSON.parse(output);
      assert.deepStrictEqual(list, [{ pid, ppid: process.pid }]);
      assert.deepStrictEqual(addon.getProcessesOfSameExeFile(rootChildren[0].pid), pairsOf(rootChildren));
    } finally {
      rootChildren.forEach((child) => child.kill());
    }
  });
}
