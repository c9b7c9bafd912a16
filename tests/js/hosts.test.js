'use strict';
// Both builds of the addon (V8 and Node-API) in hosts other than node.exe,
// each a child process started from here: node.exe renamed nw.exe with no
// node.exe to be found; that host in NW.js's layout, with node's and V8's
// functions in stand-ins of node.dll and nw.dll; and hosts that lack one of
// the functions the addon imports.
const assert = require('assert');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { test, paths, runLogged } = require('./harness');

const child = path.join(__dirname, 'hosts.child.js');
const builds = {
  V8: paths.addon,
  'Node-API': path.win32.join(path.win32.dirname(paths.addon), 'velmora_node_sys.napi.node'),
};
const answers = '{"idle":true,"desktop":true,"self":true,"chromeWindow":0,"shift":true,' +
  '"watch":0,"names":9}';

// A folder holding node.exe as nw.exe, with the stand-in DLLs if asked for
// (nodeDll: a variant as node.dll), or with the exported name `spoil` made
// unfindable: its last letter changes, so the export names stay sorted for
// the loader's binary search.
function makeHost({ standIns = false, nodeDll = 'node.dll', spoil } = {}) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'host-'));
  const image = fs.readFileSync(paths.nodeExe);
  if (spoil) {
    const at = image.indexOf(`\0${spoil}\0`, 0, 'latin1');
    assert.ok(at > 0 && image.indexOf(`\0${spoil}\0`, at + 1, 'latin1') < 0, `${spoil} exported once`);
    image[at + spoil.length] += 1;
  }
  fs.writeFileSync(path.join(dir, 'nw.exe'), image);
  if (standIns) {
    fs.copyFileSync(path.join(paths.testAddons, nodeDll), path.join(dir, 'node.dll'));
    fs.copyFileSync(path.join(paths.testAddons, 'nw.dll'), path.join(dir, 'nw.dll'));
  }
  return dir;
}

// Node 9's warning that Node-API is experimental is left out of the output.
function runChild(exe, mode, addon) {
  const env = Object.assign({}, process.env, { VELMORA_ADDON: addon });
  const { status, output } = runLogged(exe, [child, mode], { cwd: path.dirname(exe), env });
  return { status, output: output.replace(/^.*N-API is an experimental feature.*\n/m, '') };
}

const renamed = path.join(makeHost(), 'nw.exe');
const layout = path.join(makeHost({ standIns: true }), 'nw.exe');

test('in node.exe renamed nw.exe, the functions answer and an event arrives', () => {
  for (const [build, addon] of Object.entries(builds)) {
    const { status, output } = runChild(renamed, 'end', addon);
    assert.strictEqual(status, 0, `${build}:\n${output}`);
    const [json, event] = output.trim().split('\n');
    assert.strictEqual(json, answers, build);
    assert.ok(/^event \S+ \S+$/.test(event), `${build}:\n${output}`);
  }
});

// The V8 build calls V8's functions (nw.dll's) and node's; the Node-API build
// node's alone.
test("in NW.js's layout, every call goes through node.dll and nw.dll", () => {
  for (const [build, addon, nwCalls] of [['V8', builds.V8, true], ['Node-API', builds['Node-API'], false]]) {
    const { status, output } = runChild(layout, 'end', addon);
    assert.strictEqual(status, 0, `${build}:\n${output}`);
    const lines = output.trim().split('\n');
    assert.strictEqual(lines[0], answers, build);
    assert.ok(/^event \S+ \S+$/.test(lines[1]), `${build}:\n${output}`);
    const forwarded = (dll) => Number((lines.find((line) => line.startsWith(`${dll} forwarded`)) || '').split(' ')[2]);
    assert.ok(forwarded('node.dll') > 0, `${build}, node.dll:\n${output}`);
    assert.strictEqual(forwarded('nw.dll') > 0, nwCalls, `${build}, nw.dll:\n${output}`);
  }
});

test('in a host that lacks an import, require throws an error naming it', () => {
  const spoiled = path.join(makeHost({ spoil: 'uv_async_send' }), 'nw.exe');
  for (const [build, addon] of Object.entries(builds)) {
    assert.deepStrictEqual(runChild(spoiled, 'require', addon), { status: 0, output:
      'require failed: velmora_node_sys cannot run in this host: it does not export uv_async_send\n' }, build);
  }
  // Without napi_get_version there is no Node-API to speak of.
  assert.deepStrictEqual(runChild(path.join(makeHost({ spoil: 'napi_get_version' }), 'nw.exe'), 'require',
                                  builds['Node-API']), { status: 0, output:
    'require failed: velmora_node_sys needs Node-API version 3 or later; this runtime has 0\n' });
  const older = path.join(makeHost({ standIns: true, nodeDll: 'node_napi_version_2.dll' }), 'nw.exe');
  assert.deepStrictEqual(runChild(older, 'require', builds['Node-API']).output.split('\n')[0],
    'require failed: velmora_node_sys needs Node-API version 3 or later; this runtime has 2');
});

// The loop that the watch runs on, or its async context, cannot be had:
// nothing is watched, and watch says so as for a source that did not start.
test('a Node-API watch whose loop or async context fails answers -3 and watches nothing', () => {
  for (const failing of ['napi_get_uv_event_loop', 'napi_async_init']) {
    const host = path.join(makeHost({ standIns: true, nodeDll: `node_failing_${failing}.dll` }), 'nw.exe');
    const { status, output } = runChild(host, 'watch', builds['Node-API']);
    assert.strictEqual(status, 0, `${failing}:\n${output}`);
    assert.strictEqual(output.split('\n')[0], '[-3,false,-3,false]', failing);
  }
});

test('with a callback stored, node.exe and the DLL host end cleanly every way', () => {
  for (const [build, addon] of Object.entries(builds)) {
    for (const exe of [paths.nodeExe, layout]) {
      for (const [mode, expected] of [['end', 0], ['exit', 7], ['throw', 1]]) {
        const { status, output } = runChild(exe, mode, addon);
        assert.strictEqual(status, expected, `${build} in ${exe} ${mode}:\n${output}`);
        const clean = /^event /m.test(output) && !/Unhandled|Assertion/.test(output) &&
          (mode !== 'throw' || /Error: thrown by the watch callback/.test(output));
        assert.ok(clean, `${build} in ${exe} ${mode}:\n${output}`);
      }
    }
  }
});
