'use strict';
// getKeyState, simulateKeys and setBadge. Injected events are watched by
// key_hook, a helper whose low-level keyboard hook records the virtual-key
// code, scan code and flags of every event that reaches the system, in order.
const assert = require('assert');
const childProcess = require('child_process');
const path = require('path');
const { test, paths, waitFor } = require('./harness');
const addon = require(paths.addon);
const tables = require(path.win32.join(paths.testAddons, 'velmora_tables.node'));

// The key names and their virtual-key codes, in table order.
const KEY_NAMES = [
  ['Ctrl', 17], ['Control', 17], ['Cmd', 17], ['LCtrl', 162], ['LControl', 162], ['LCmd', 162],
  ['RCtrl', 163], ['RControl', 163], ['RCmd', 163], ['Shift', 16], ['LShift', 160], ['RShift', 161],
  ['Alt', 18], ['Option', 18], ['Menu', 18], ['LAlt', 164], ['LOption', 164], ['LMenu', 164],
  ['RAlt', 165], ['ROption', 165], ['RMenu', 165], ['Win', 91], ['Super', 91], ['Meta', 91],
  ['LWin', 91], ['LSuper', 91], ['LMeta', 91], ['RWin', 92], ['RSuper', 92], ['RMeta', 92],
  ['Backspace', 8], ['Back', 8], ['Enter', 13], ['Return', 13], ['Tab', 9], ['Caps', 20],
  ['Caption', 20],
].concat(Array.from({ length: 24 }, (_, i) => [`F${i + 1}`, 112 + i]));

// Flags of a low-level keyboard event.
const EXTENDED = 0x01;
const INJECTED = 0x10;
const UP = 0x80;

// No key has the virtual-key code 64 (the one-byte token "@"): its press and
// release close every recording.
const CLOSING_CODE = 64;

const hook = startHook();

function startHook() {
  const child = childProcess.spawn(path.win32.join(paths.helpers, 'key_hook.exe'), [],
                                   { stdio: ['pipe', 'pipe', 'inherit'] });
  const state = { events: [], rcontrolScan: undefined };
  let pending = '';
  child.stdout.setEncoding('latin1');
  child.stdout.on('data', (chunk) => {
    const lines = (pending + chunk).split(/\r?\n/);
    pending = lines.pop();
    for (const line of lines) {
      const fields = line.split(' ');
      if (fields[0] === 'ready') {
        state.rcontrolScan = Number(fields[1]);
      } else {
        const [vk, scan, flags] = fields.map(Number);
        state.events.push({ vk, scan, flags });
      }
    }
  });
  // The helper ends by itself when this process, and so its input, goes away.
  for (const stream of [child, child.stdin, child.stdout]) stream.unref();
  return state;
}

// The events that fn injects, in the order that the hook saw them.
async function record(fn) {
  assert.ok(await waitFor(() => hook.rcontrolScan !== undefined, 30000), 'key_hook is ready');
  const start = hook.events.length;
  fn();
  addon.simulateKeys('@');
  const closing = () => {
    const i = hook.events.findIndex((e, index) => index >= start && e.vk === CLOSING_CODE);
    return i >= 0 && hook.events.length > i + 1 ? i + 1 : 0;
  };
  const end = await waitFor(closing, 30000);
  assert.ok(end, 'the closing events reached the hook');
  const events = hook.events.slice(start, end - 1);
  // The X display has no keyboard of its own: everything seen was injected.
  for (const e of events) assert.ok(e.flags & INJECTED, `injected: ${JSON.stringify(e)}`);
  return events;
}

// The presses and releases that fn injects: "down 17", "up 17".
async function strokes(fn) {
  return (await record(fn)).map((e) => `${e.flags & UP ? 'up' : 'down'} ${e.vk}`);
}
const down = (...codes) => codes.map((code) => `down ${code}`);
const up = (...codes) => codes.map((code) => `up ${code}`);

const isDown = (state) => state >= 32768;

test('Ctrl+Shift+A: presses in token order, then releases in reverse order', async () => {
  const events = await record(() => addon.simulateKeys('Ctrl+Shift+A'));
  assert.deepStrictEqual(events, [
    { vk: 17, scan: 0, flags: INJECTED }, { vk: 16, scan: 0, flags: INJECTED },
    { vk: 65, scan: 0, flags: INJECTED }, { vk: 65, scan: 0, flags: INJECTED | UP },
    { vk: 16, scan: 0, flags: INJECTED | UP }, { vk: 17, scan: 0, flags: INJECTED | UP },
  ]);
});

test('modes: exactly "down" presses only, exactly "up" releases only, any other text both', async () => {
  assert.deepStrictEqual(await strokes(() => addon.simulateKeys('Ctrl+A', 'down')), down(17, 65));
  assert.deepStrictEqual(await strokes(() => addon.simulateKeys('Ctrl+A', 'up')), up(65, 17));
  const both = down(17, 65).concat(up(65, 17));
  for (const mode of ['Down', 'UP', 'up ', ' down', 'downup', '', 1, 2, null, undefined]) {
    assert.deepStrictEqual(await strokes(() => addon.simulateKeys('Ctrl+A', mode)), both,
                           `mode ${JSON.stringify(mode)}`);
  }
  assert.deepStrictEqual(await strokes(() => addon.simulateKeys('Ctrl+A')), both);
});

test('RCtrl goes out as its scan code with the extended bit; RAlt and the other right keys by code', async () => {
  // KEYEVENTF_SCANCODE has no counterpart among the hook's flags: what shows
  // is the extended bit and the scan code, which must be the one that the
  // system maps VK_RCONTROL to (the helper asks MapVirtualKeyA the same).
  assert.ok(hook.rcontrolScan > 0);
  assert.deepStrictEqual(await record(() => addon.simulateKeys('RCtrl')), [
    { vk: 163, scan: hook.rcontrolScan, flags: INJECTED | EXTENDED },
    { vk: 163, scan: hook.rcontrolScan, flags: INJECTED | EXTENDED | UP },
  ]);
  for (const [name, vk] of [['RAlt', 165], ['RShift', 161], ['RWin', 92]]) {
    assert.deepStrictEqual(await record(() => addon.simulateKeys(name)), [
      { vk, scan: 0, flags: INJECTED }, { vk, scan: 0, flags: INJECTED | UP },
    ], name);
  }
});

test('tokens that name no key are skipped, and the rest of the chord still goes out', async () => {
  assert.deepStrictEqual(await strokes(() => addon.simulateKeys('Esc+X')), down(88).concat(up(88)));
  // "ctrl" is no name (case matters); "a" is a one-byte token, VK_NUMPAD1.
  assert.deepStrictEqual(await strokes(() => addon.simulateKeys('ctrl+a')), down(97).concat(up(97)));
  // A character outside ASCII is a token of several bytes, never a code.
  assert.deepStrictEqual(await strokes(() => addon.simulateKeys('\u00e9+A+\u4e2d+\ud83d\ude00')),
                         down(65).concat(up(65)));
  assert.deepStrictEqual(await strokes(() => addon.simulateKeys('Shift+Nothing+F25+F0+Ctrl ')),
                         down(16).concat(up(16)));
});

test('empty tokens send nothing; "+" is always a separator', async () => {
  const ctrlA = down(17, 65).concat(up(65, 17));
  for (const chord of ['Ctrl++A', '+Ctrl+A', 'Ctrl+A+', '++Ctrl+++A++']) {
    assert.deepStrictEqual(await strokes(() => addon.simulateKeys(chord)), ctrlA, chord);
  }
  for (const chord of ['+', '', '++', 'Esc']) {
    assert.deepStrictEqual(await strokes(() => addon.simulateKeys(chord)), [], chord);
  }
  assert.deepStrictEqual(await strokes(() => addon.simulateKeys()), [], 'absent: "undefined"');
});

test('one-byte tokens are codes as they stand, without a change of case', async () => {
  const chord = ['A', 'a', 'c', 'v', '1', ' ', ',', '.', '%'];
  const codes = [65, 97, 99, 118, 49, 32, 44, 46, 37];
  assert.deepStrictEqual(await strokes(() => addon.simulateKeys(chord.join('+'))),
                         down(...codes).concat(up(...codes.reverse())));
});

test('Caps and Caption both press and release caps lock, which toggles', async () => {
  const before = addon.getKeyState('Caps') & 1;
  assert.deepStrictEqual(await strokes(() => addon.simulateKeys('Caps')), down(20).concat(up(20)));
  assert.ok(await waitFor(() => (addon.getKeyState('Caps') & 1) !== before, 10000), 'toggled');
  assert.deepStrictEqual(await strokes(() => addon.simulateKeys('Caption')), down(20).concat(up(20)));
  assert.ok(await waitFor(() => (addon.getKeyState('Caption') & 1) === before, 10000), 'toggled back');
});

test('the key table holds exactly the 61 names and codes, and each name sends its code', async () => {
  assert.deepStrictEqual(tables.keyTable(), KEY_NAMES);
  for (const [name, code] of KEY_NAMES) {
    assert.deepStrictEqual(await strokes(() => addon.simulateKeys(name)), down(code).concat(up(code)),
                           name);
  }
});

test('a chord of a million tokens runs flat and keeps the order', async () => {
  // Sixty keys spread over a million tokens, the others skipped ("Esc") or
  // empty: a walk that nested once per token would overflow the stack.
  const keys = Array.from({ length: 26 }, (_, i) => String.fromCharCode(65 + i))
    .concat(Array.from({ length: 10 }, (_, i) => String(i)))
    .concat(Array.from({ length: 24 }, (_, i) => `F${i + 1}`));
  const codes = keys.map((key) => (key.length === 1 ? key.charCodeAt(0) : 111 + Number(key.slice(1))));
  const tokens = [];
  for (let i = 0; i < 1000000; i++) {
    tokens.push(i % 16000 === 0 && i / 16000 < keys.length ? keys[i / 16000] : (i % 2 ? 'Esc' : ''));
  }
  assert.deepStrictEqual(await strokes(() => addon.simulateKeys(tokens.join('+'))),
                         down(...codes).concat(up(...codes.slice().reverse())));
});

test('a conversion that throws sends nothing and leaves the other argument unread', async () => {
  let modeReads = 0;
  const mode = { toString: () => { modeReads++; return 'down'; } };
  assert.deepStrictEqual(await strokes(() => {
    assert.throws(() => addon.simulateKeys(Symbol('keys'), mode), TypeError);
  }), []);
  assert.strictEqual(modeReads, 0);
  const failure = new Error('no text');
  assert.deepStrictEqual(await strokes(() => {
    assert.throws(() => addon.simulateKeys('Ctrl+A', { toString() { throw failure; } }),
                  (e) => e === failure);
  }), []);
});

test('getKeyState: a held key reads with bit 15 set, as a positive number', async () => {
  assert.deepStrictEqual(await strokes(() => addon.simulateKeys('Shift', 'down')), down(16));
  try {
    assert.ok(await waitFor(() => isDown(addon.getKeyState('Shift')), 10000), 'Shift reads down');
    assert.ok([65408, 65409].includes(addon.getKeyState('Shift')), `${addon.getKeyState('Shift')}`);
  } finally {
    assert.deepStrictEqual(await strokes(() => addon.simulateKeys('Shift', 'up')), up(16));
  }
  assert.ok(await waitFor(() => !isDown(addon.getKeyState('Shift')), 10000), 'Shift reads up');
  for (const [name] of KEY_NAMES.concat([['A'], ['shift'], ['Ctrl+A'], [''], ['\u00e9']])) {
    const state = addon.getKeyState(name);
    assert.ok(Number.isInteger(state) && state >= 0 && state <= 65535, `${name}: ${state}`);
  }
});

test('getKeyState: names outside the table ask about code 0, even for a key that is down', async () => {
  const codeZero = addon.getKeyState('NoSuchKey');
  assert.ok(!isDown(codeZero));
  assert.deepStrictEqual(await strokes(() => addon.simulateKeys('Shift+A', 'down')), down(16, 65));
  try {
    assert.ok(await waitFor(() => isDown(addon.getKeyState('Shift')), 10000), 'Shift reads down');
    for (const name of ['A', 'shift', 'SHIFT', 'Shift+A', 'Shift ', undefined]) {
      assert.strictEqual(addon.getKeyState(name), codeZero, `${name}`);
    }
    assert.strictEqual(addon.getKeyState(), codeZero);
  } finally {
    assert.deepStrictEqual(await strokes(() => addon.simulateKeys('Shift+A', 'up')), up(65, 16));
  }
});

test('setBadge returns undefined, converts its argument once, and sends nothing', async () => {
  let conversions = 0;
  const text = { toString: () => { conversions++; return 'Ctrl+A'; } };
  assert.deepStrictEqual(await strokes(() => {
    for (const value of [undefined, null, 0, '', '9+', {}, [], text]) {
      assert.strictEqual(addon.setBadge(value), undefined);
    }
    assert.strictEqual(addon.setBadge(), undefined);
  }), []);
  assert.strictEqual(conversions, 1);
});
