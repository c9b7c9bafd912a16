'use strict';
// getKeyState and simulateKeys on an X display of the test's own. Other X
// clients are the oracles: xinput's test-xi2 reports the raw press and
// release of every key, in order, without needing the focus; xmodmap -pke
// gives each keycode's keysyms; xinput query-state and xset q show what the
// server holds down and locked.
const assert = require('assert');
const childProcess = require('child_process');
const { test, paths, waitFor, startXvfb, xClient } = require('./harness');
const addon = require(paths.addon);

// The names of the key table and the keysyms that they stand for.
const KEY_KEYSYMS = [
  ['Ctrl', 'Control_L'], ['Control', 'Control_L'], ['Cmd', 'Control_L'], ['LCtrl', 'Control_L'],
  ['LControl', 'Control_L'], ['LCmd', 'Control_L'], ['RCtrl', 'Control_R'], ['RControl', 'Control_R'],
  ['RCmd', 'Control_R'], ['Shift', 'Shift_L'], ['LShift', 'Shift_L'], ['RShift', 'Shift_R'],
  ['Alt', 'Alt_L'], ['Option', 'Alt_L'], ['Menu', 'Alt_L'], ['LAlt', 'Alt_L'], ['LOption', 'Alt_L'],
  ['LMenu', 'Alt_L'], ['RAlt', 'Alt_R'], ['ROption', 'Alt_R'], ['RMenu', 'Alt_R'], ['Win', 'Super_L'],
  ['Super', 'Super_L'], ['Meta', 'Super_L'], ['LWin', 'Super_L'], ['LSuper', 'Super_L'],
  ['LMeta', 'Super_L'], ['RWin', 'Super_R'], ['RSuper', 'Super_R'], ['RMeta', 'Super_R'],
  ['Backspace', 'BackSpace'], ['Back', 'BackSpace'], ['Enter', 'Return'], ['Return', 'Return'],
  ['Tab', 'Tab'], ['Caps', 'Caps_Lock'], ['Caption', 'Caps_Lock'],
].concat(Array.from({ length: 24 }, (_, i) => [`F${i + 1}`, `F${i + 1}`]));

// The one-byte token of VK_PAUSE, which no case sends: its press and release
// close every recording. VK_CANCEL's shows when xinput has begun to watch.
const CLOSING = '\x13';
const READY = '\x03';

let x;
let keymap;
const recorder = { events: [] };

// Each keycode's keysyms, as xmodmap -pke lists them.
function readKeymap() {
  const map = new Map();
  for (const line of xClient(x.display, 'xmodmap', ['-pke']).split('\n')) {
    const match = /^keycode\s+(\d+) =(.*)$/.exec(line);
    if (match) map.set(Number(match[1]), match[2].trim().split(/\s+/).filter(Boolean));
  }
  return map;
}

// The keycode that keysym goes out as: the first keycode listing it, looking
// at every keycode's first keysym before any second one; undefined if none.
function keycodeOf(keysym) {
  for (let column = 0; column < 8; column++) {
    for (const [keycode, keysyms] of keymap) if (keysyms[column] === keysym) return keycode;
  }
  return undefined;
}

// xinput test-xi2 --root, its raw key events collected as { kind, keycode }.
function startRecorder() {
  const child = childProcess.spawn('stdbuf', ['-oL', 'xinput', 'test-xi2', '--root'], {
    stdio: ['ignore', 'pipe', 'ignore'], env: Object.assign({}, process.env, { DISPLAY: x.display }),
  });
  let pending = '';
  let kind;
  child.stdout.setEncoding('utf8');
  child.stdout.on('data', (chunk) => {
    const lines = (pending + chunk).split('\n');
    pending = lines.pop();
    for (const line of lines) {
      const event = /^EVENT type \d+ \((\w+)\)/.exec(line);
      if (event) kind = { RawKeyPress: 'down', RawKeyRelease: 'up' }[event[1]];
      const detail = /^\s+detail: (\d+)/.exec(line);
      if (detail && kind) {
        recorder.events.push({ kind, keycode: Number(detail[1]) });
        kind = undefined;
      }
    }
  });
  child.unref();
  child.stdout.unref();
  process.on('exit', () => child.kill());
}

// The presses and releases that fn sends, in the order that xinput saw them:
// "down 37", "up 37".
async function strokes(fn) {
  const start = recorder.events.length;
  fn();
  addon.simulateKeys(CLOSING);
  const closingKeycode = keycodeOf('Pause');
  const closed = () => recorder.events.slice(start).some((e) => e.kind === 'up' && e.keycode === closingKeycode);
  assert.ok(await waitFor(closed, 30000), 'the closing key reached xinput');
  const readyKeycode = keycodeOf('Cancel');
  const events = recorder.events.slice(start).filter((e) => e.keycode !== readyKeycode);
  return events.slice(0, events.length - 2).map((e) => `${e.kind} ${e.keycode}`);
}
const down = (...keysyms) => keysyms.map((keysym) => `down ${keycodeOf(keysym)}`);
const up = (...keysyms) => keysyms.map((keysym) => `up ${keycodeOf(keysym)}`);

// The keycodes that the XTEST keyboard holds down, as xinput query-state sees them.
const heldKeycodes = () => (xClient(x.display, 'xinput', ['query-state', 'Virtual core XTEST keyboard'])
  .match(/key\[\d+\]=down/g) || []).map((text) => Number(/\d+/.exec(text)[0]));
const capsLockShown = () => /Caps Lock:\s+on/.test(xClient(x.display, 'xset', ['q']));

test('a display of its own, its keymap, and xinput watching it', async () => {
  x = await startXvfb();
  process.env.DISPLAY = x.display;
  keymap = readKeymap();
  assert.strictEqual(keycodeOf('Pause'), 127);
  startRecorder();
  // xinput sees nothing before it has selected the events: a key that no
  // recording counts is sent until it does.
  const seen = () => {
    addon.simulateKeys(READY);
    return recorder.events.length > 0;
  };
  assert.ok(await waitFor(seen, 30000), 'xinput sees the keys');
});

test('Ctrl+Shift+A: presses in token order, then releases in reverse order', async () => {
  assert.deepStrictEqual(await strokes(() => addon.simulateKeys('Ctrl+Shift+A')),
                         down('Control_L', 'Shift_L', 'a').concat(up('a', 'Shift_L', 'Control_L')));
});

test('held and released: getKeyState and another client see it as soon as simulateKeys returns', async () => {
  for (const [generic, left, right] of [['Shift', 'LShift', 'RShift'], ['Ctrl', 'LCtrl', 'RCtrl'],
                                         ['Alt', 'LAlt', 'RAlt']]) {
    for (const [held, other] of [[left, right], [right, left]]) {
      const keycode = keycodeOf(KEY_KEYSYMS.find(([name]) => name === held)[1]);
      assert.deepStrictEqual(await strokes(() => {
        addon.simulateKeys(held, 'down');
        // No wait: the call returned once the server had the press.
        assert.deepStrictEqual(heldKeycodes(), [keycode], held);
        assert.strictEqual(addon.getKeyState(held), 65408, held);
        assert.strictEqual(addon.getKeyState(generic), 65408, `${generic} with ${held}`);
        assert.strictEqual(addon.getKeyState(other), 0, `${other} with ${held}`);
        addon.simulateKeys(held, 'up');
        assert.deepStrictEqual(heldKeycodes(), [], held);
        assert.strictEqual(addon.getKeyState(held), 0, held);
        assert.strictEqual(addon.getKeyState(generic), 0, generic);
      }), [`down ${keycode}`, `up ${keycode}`], held);
    }
  }
});

test('each name of the table goes out as its keysym; F13 to F24, which the keymap lacks, are skipped', async () => {
  for (const [name, keysym] of KEY_KEYSYMS) {
    const expected = keycodeOf(keysym) === undefined ? [] : down(keysym).concat(up(keysym));
    assert.deepStrictEqual(await strokes(() => addon.simulateKeys(name)), expected, name);
  }
  const missing = KEY_KEYSYMS.filter(([, keysym]) => keycodeOf(keysym) === undefined).map(([name]) => name);
  assert.deepStrictEqual(missing, Array.from({ length: 12 }, (_, i) => `F${i + 13}`));
  assert.deepStrictEqual(await strokes(() => addon.simulateKeys('Ctrl+F13+A')),
                         down('Control_L', 'a').concat(up('a', 'Control_L')));
});

test('one-byte tokens are Windows codes: "A" the a key, "a" keypad 1, "p" F1; "@" and mouse buttons have no key', async () => {
  assert.deepStrictEqual(await strokes(() => addon.simulateKeys('A+a+1+ +p+@+\x01+\x02')),
                         down('a', 'KP_1', '1', 'space', 'F1').concat(up('F1', 'space', '1', 'KP_1', 'a')));
});

// xmodmap rebinds a keycode, and the server tells every client.
async function rebindAndSend(keysym) {
  xClient(x.display, 'xmodmap', ['-e', `keycode 191 = ${keysym}`]);
  return strokes(() => addon.simulateKeys('F13'));
}

test('a keysym that the mapping gains is sent, and one that it loses skipped again', async () => {
  try {
    assert.deepStrictEqual(await rebindAndSend('F13'), ['down 191', 'up 191']);
  } finally {
    assert.deepStrictEqual(await rebindAndSend('XF86Tools'), []);
  }
});

test('Caps and Caption toggle Caps Lock: bit 0 follows it, as xset shows, and bit 15 the key', async () => {
  assert.strictEqual(addon.getKeyState('Caps'), 0);
  assert.deepStrictEqual(await strokes(() => addon.simulateKeys('Caps')), down('Caps_Lock').concat(up('Caps_Lock')));
  assert.strictEqual(addon.getKeyState('Caps'), 1);
  assert.ok(capsLockShown());
  // The lock goes off when the key that found it on is released.
  await strokes(() => addon.simulateKeys('Caption', 'down'));
  assert.strictEqual(addon.getKeyState('Caption'), 65409);
  assert.ok(capsLockShown());
  await strokes(() => addon.simulateKeys('Caption', 'up'));
  assert.strictEqual(addon.getKeyState('Caption'), 0);
  assert.ok(!capsLockShown());
  await strokes(() => addon.simulateKeys('Caps', 'down'));
  assert.strictEqual(addon.getKeyState('Caps'), 65409);
  await strokes(() => addon.simulateKeys('Caps', 'up'));
  assert.strictEqual(addon.getKeyState('Caps'), 1);
  await strokes(() => addon.simulateKeys('Caps'));
  assert.strictEqual(addon.getKeyState('Caps'), 0);
  assert.ok(!capsLockShown());
});

test('once XKB is in use (the Caps Lock reads above), changes of the mapping are still noticed', async () => {
  try {
    assert.deepStrictEqual(await rebindAndSend('F13'), ['down 191', 'up 191']);
  } finally {
    assert.deepStrictEqual(await rebindAndSend('XF86Tools'), []);
  }
});
