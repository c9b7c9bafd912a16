'use strict';
// getProcessesOfSameExeFile: argument conversion, the listed processes and
// the shape of the result.
const assert = require('assert');
const childProcess = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { test, paths, sleep } = require('./harness');
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
