'use strict';
// The addon in hosts other than node.exe, each a child process started from
// here: node.exe renamed nw.exe with no node.exe to be found; that host in
// NW.js's layout, with node's and V8's functions in stand-ins of node.dll and
// nw.dll; and a host that lacks one of the functions the addon imports.
const assert = require('assert');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { test, paths, runLogged } = require('./harness');

const child = path.join(__dirname, 'hosts.child.js');
const answers = '{"idle":true,"desktop":true,"self":true,"chromeWindow":0,"shift":true,' +
  '"watch":0,"names":9}';

// A folder holding node.exe as nw.exe, with the stand-in DLLs if asked for, or
// with the exported name `spoil` made unfindable: its last letter changes, so
// the export names stay sorted for the loader's binary search.
function makeHost({ standIns = false, spoil } = {}) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'host-'));
  const image = fs.readFileSync(paths.nodeExe);
  if (spoil) {
    const at = image.indexOf(`\0${spoil}\0`, 0, 'latin1');
    assert.ok(at > 0 && image.indexOf(`\0${spoil}\0`, at + 1, 'latin1') < 0, `${spoil} exported once`);
    image[at + spoil.length] += 1;
  }
  fs.writeFileSync(path.join(dir, 'nw.exe'), image);
  if (standIns) {
    for (const dll of ['node.dll', 'nw.dll']) {
      fs.copyFileSync(path.join(paths.testAddons, dll), path.join(dir, dll));
    }
  }
  return dir;
}

function runChild(exe, mode) {
  const env = Object.assign({}, process.env, { VELMORA_ADDON: paths.addon });
  return runLogged(exe, [child, mode], { cwd: path.dirname(exe), env });
}

const renamed = path.join(makeHost(), 'nw.exe');
const layout = path.join(makeHost({ standIns: true }), 'nw.exe');

test('in node.exe renamed nw.exe, the functions answer and an event arrives', () => {
  const { status, output } = runChild(renamed, 'end');
  assert.strictEqual(status, 0, output);
  const [json, event] = output.trim().split('\n');
  assert.strictEqual(json, answers);
  assert.ok(/^event \S+ \S+$/.test(event), output);
});

test("in NW.js's layout, every call goes through node.dll and nw.dll", () => {
  const { status, output } = runChild(layout, 'end');
  assert.strictEqual(status, 0, output);
  const lines = output.trim().split('\n');
  assert.strictEqual(lines[0], answers);
  assert.ok(/^event \S+ \S+$/.test(lines[1]), output);
  for (const dll of ['node.dll', 'nw.dll']) {
    const forwarded = lines.find((line) => line.startsWith(`${dll} forwarded`));
    assert.ok(forwarded && Number(forwarded.split(' ')[2]) > 0, `${dll} forwarded calls:\n${output}`);
  }
});

test('in a host that lacks an import, require throws an error naming it', () => {
  const { status, output } = runChild(path.join(makeHost({ spoil: 'uv_async_send' }), 'nw.exe'), 'require');
  assert.strictEqual(status, 0, output);
  assert.strictEqual(output,
    'require failed: velmora_node_sys cannot run in this host: it does not export uv_async_send\n');
});

test('with a callback stored, node.exe and the DLL host end cleanly every way', () => {
  for (const exe of [paths.nodeExe, layout]) {
    for (const [mode, expected] of [['end', 0], ['exit', 7], ['throw', 1]]) {
      const { status, output } = runChild(exe, mode);
      assert.strictEqual(status, expected, `${exe} ${mode}:\n${output}`);
      const clean = /^event /m.test(output) && !/Unhandled|Assertion/.test(output) &&
        (mode !== 'throw' || /Error: thrown by the watch callback/.test(output));
      assert.ok(clean, `${exe} ${mode}:\n${output}`);
    }
  }
});
