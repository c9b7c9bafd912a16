'use strict';
// findChromeWindow on X, inside the grandchild of x11_window_host, which
// mimics the client's browser process (see there): on a display of its own
// under openbox, a reparenting window manager, and on one without a window
// manager. chrome_window.child.js checks the answers.
const assert = require('assert');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { test, paths, runLogged, startXvfb, startWindowManager, xClient } = require('./harness');

let managed;
let bare;

function runUnderHost(display, before, after) {
  const signal = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'chrome-window-')), 'signal');
  const env = Object.assign({}, process.env, { DISPLAY: display.display, VELMORA_SIGNAL: signal });
  if (display === managed) env.VELMORA_WINDOW_MANAGER = '1';
  const { status, output } = runLogged(
    path.join(paths.helpers, 'x11_window_host'),
    [before, after, signal, paths.nodeExe, path.join(__dirname, 'chrome_window.child.js')], { env });
  assert.strictEqual(status, 0, `${display === managed ? 'managed' : 'bare'} ${before} then ${after}:\n${output}`);
}

test('displays: one under openbox, one without a window manager', async () => {
  managed = await startXvfb();
  await startWindowManager(managed.display);
  bare = await startXvfb();
});

test('under a window manager: the client window inside its frame, neither the frame nor the leader', () => {
  // The host checks that openbox framed and listed the window before the
  // child asks; the leader carries the same pid but is never mapped.
  runUnderHost(managed, 'window', 'none');
});

test('under a window manager: the first window of its list, minimised or not, whatever the stacking', () => {
  runUnderHost(managed, 'raised', 'none');
  runUnderHost(managed, 'iconic', 'none');
});

test('without a window manager: the first mapped top-level window in stacking order, bottom first', () => {
  assert.ok(/no such atom|not found/.test(xClient(bare.display, 'xprop', ['-root', '_NET_CLIENT_LIST'])));
  runUnderHost(bare, 'window', 'none');
  runUnderHost(bare, 'raised', 'none');
});

test('the nearest ancestor that owns a window wins: the parent before the grandparent', () => {
  runUnderHost(managed, 'middle', 'none');
  runUnderHost(bare, 'middle', 'none');
});

test('no window: 0, and a later call searches again and finds the new one', () => {
  runUnderHost(managed, 'none', 'window');
  runUnderHost(bare, 'none', 'window');
});

test('no ancestor owning a window gives 0, and so does a process without a display', () => {
  const script = `process.stdout.write(String(require(${JSON.stringify(paths.addon)}).findChromeWindow()))`;
  for (const env of [{ DISPLAY: bare.display }, { DISPLAY: managed.display }, {}]) {
    const { status, output } = runLogged(paths.nodeExe, ['-e', script], { env });
    assert.strictEqual(status, 0, output);
    assert.strictEqual(output, '0', JSON.stringify(env));
  }
  assert.strictEqual(require(paths.addon).findChromeWindow(), 0);
});
