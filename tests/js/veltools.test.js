'use strict';
// veltools.exe: its command line and exit codes, the clipboard's file-drop
// block byte for byte, the printed lines, and its behaviour next to other
// programs that use the clipboard (clipboard_helper.exe).
const assert = require('assert');
const childProcess = require('child_process');
const path = require('path');
const { test, paths, readPeHeaders, waitFor } = require('./harness');

const helper = path.win32.join(paths.helpers, 'clipboard_helper.exe');

// node.exe reads exit codes as unsigned (seen under wine; a Linux shell sees
// 255 and 254 instead).
const MINUS_1 = 4294967295;
const MINUS_2 = 4294967294;

function run(exe, args) {
  const result = childProcess.spawnSync(exe, args, { timeout: 60000, maxBuffer: 1 << 24 });
  assert.ifError(result.error);
  return result;
}

// Runs veltools; returns its exit code and output. It never writes to stderr.
function veltools(...args) {
  const result = run(paths.veltools, args);
  assert.strictEqual(result.stderr.toString(), '', `veltools ${args.join(' ')}`);
  return { status: result.status, stdout: result.stdout };
}

function clipboardHelper(...args) {
  const result = run(helper, args);
  assert.strictEqual(result.status, 0, `clipboard_helper ${args.join(' ')}: ${result.stderr}`);
  return result.stdout.toString().trim();
}

// The clipboard's CF_HDROP block, or null when it holds none.
function clipboardBlock() {
  const hex = clipboardHelper('dump');
  return hex === 'none' ? null : Buffer.from(hex, 'hex');
}

// The block that veltools writes for a list: the 20-byte header (offset 20,
// fWide 1), each path in UTF-16LE with its NUL, then the closing NUL.
function dropList(list) {
  const header = Buffer.alloc(20);
  header.writeUInt32LE(20, 0);
  header.writeUInt32LE(1, 16);
  return Buffer.concat([header, ...list.map((p) => Buffer.from(`${p}\0`, 'utf16le')), Buffer.alloc(2)]);
}

function lines(list) {
  return Buffer.from(list.map((p) => `${p}\r\n`).join(''), 'utf8');
}

// Sets the list, checks the block and the exit code, and reads it back.
function assertRoundTrip(list) {
  assert.strictEqual(veltools('clipboard', 'setfiles', ...list).status, 0);
  assert.deepStrictEqual(clipboardBlock(), dropList(list));
  const got = veltools('clipboard', 'getfiles');
  assert.strictEqual(got.status, 0);
  assert.deepStrictEqual(got.stdout, lines(list));
}

// Runs fn while clipboard_helper holds the clipboard open.
async function whileHeld(fn) {
  const holder = childProcess.spawn(helper, ['hold'], { stdio: ['pipe', 'pipe', 'pipe'] });
  let output = '';
  holder.stdout.on('data', (data) => { output += data; });
  holder.stderr.on('data', (data) => { output += data; });
  const exited = new Promise((resolve) => holder.on('exit', resolve));
  try {
    await waitFor(() => output.endsWith('\n') || holder.exitCode !== null, 30000);
    assert.strictEqual(output, 'held\r\n');
    fn();
  } finally {
    holder.stdin.end();
    assert.strictEqual(await exited, 0, output);
  }
}

test('exit codes, conditions in order; the clipboard is left alone', () => {
  assertRoundTrip(['C:\\before']);
  const table = [
    [[], MINUS_1],
    [['Clipboard'], MINUS_1],
    [['Clipboard', 'getfiles'], MINUS_1],
    [['clipboard '], MINUS_1],
    [['clipboard'], MINUS_2],
    [['clipboard', 'list'], MINUS_1],
    [['clipboard', 'Setfiles', 'C:\\x'], MINUS_1],
    [['clipboard', 'getfiles '], MINUS_1],
    [['clipboard', 'set'], MINUS_1],
  ];
  for (const [args, status] of table) {
    assert.deepStrictEqual(veltools(...args), { status, stdout: Buffer.alloc(0) }, JSON.stringify(args));
  }
  assert.deepStrictEqual(veltools('clipboard', 'getfiles', 'extra', 'words'), { status: 0, stdout: lines(['C:\\before']) });
  assert.deepStrictEqual(clipboardBlock(), dropList(['C:\\before']));
});

test('"setfiles C:\\a" writes the 32-byte block', () => {
  assert.strictEqual(veltools('clipboard', 'setfiles', 'C:\\a').status, 0);
  assert.strictEqual(clipboardBlock().toString('hex'),
    '14000000' + '00000000' + '00000000' + '00000000' + '01000000' + '43003a005c0061000000' + '0000');
});

test('ASCII, Latin-1, CJK and non-BMP paths round-trip in order as UTF-8 CR LF lines', () => {
  assertRoundTrip(['C:\\plain\\file.txt', 'C:\\Users\\Zoë\\café.txt', 'C:\\文档\\报告.docx', 'C:\\emoji\\😀🎉.txt']);
  // Surrogate pairs stay pairs on the clipboard and print as four-byte sequences.
  assert.ok(clipboardBlock().includes(Buffer.from([0x3d, 0xd8, 0x00, 0xde])));
  assert.ok(veltools('clipboard', 'getfiles').stdout.includes(Buffer.from([0xf0, 0x9f, 0x98, 0x80])));
  // Paths pass unchanged: spaces, a trailing backslash, relative and odd names.
  assertRoundTrip(['C:\\Program Files\\a b.txt', 'C:\\with space\\', 'relative\\x', '..', 'C:/mixed/slashes', '*?']);
});

test('setfiles with no paths: the 22-byte list without files, exit 0, nothing printed', () => {
  assertRoundTrip([]);
  assert.strictEqual(clipboardBlock().length, 22);
});

test('empty path arguments are left out, so the paths after them stay in the list', () => {
  assert.strictEqual(veltools('clipboard', 'setfiles', 'C:\\a', '', 'C:\\b').status, 0);
  assert.deepStrictEqual(clipboardBlock(), dropList(['C:\\a', 'C:\\b']));
  assert.deepStrictEqual(veltools('clipboard', 'getfiles').stdout, lines(['C:\\a', 'C:\\b']));
  assert.strictEqual(veltools('clipboard', 'setfiles', '', 'C:\\c', '', '').status, 0);
  assert.deepStrictEqual(clipboardBlock(), dropList(['C:\\c']));
  assert.strictEqual(veltools('clipboard', 'setfiles', '', '').status, 0);
  assert.deepStrictEqual(clipboardBlock(), dropList([]));
});

test('long paths print whole: 259, 260, 261 and 1,000 UTF-16 units', () => {
  const pathOf = (units) => `C:\\${'ü\\'.repeat(units)}`.slice(0, units - 6) + '😀.txt';
  const list = [259, 260, 261, 1000].map(pathOf);
  assert.deepStrictEqual(list.map((p) => p.length), [259, 260, 261, 1000]);
  assertRoundTrip(list);
});

test('10,000 paths in one call', () => {
  // A command line holds at most 32,767 UTF-16 units: one-unit names.
  const list = Array.from({ length: 10000 }, (_, i) => String.fromCharCode(0x4e00 + i));
  assertRoundTrip(list);
});

test('getfiles when the clipboard holds only text: nothing printed, exit 0', () => {
  clipboardHelper('puttext', 'C:\\not\\a\\file\\list.txt');
  assert.strictEqual(clipboardBlock(), null);
  assert.deepStrictEqual(veltools('clipboard', 'getfiles'), { status: 0, stdout: Buffer.alloc(0) });
});

// Wine cannot be made to refuse the block (SetClipboardData failing on an
// open clipboard) or the allocation, so the exit code -1 for those is not
// shown here; a clipboard held by another program is the failure it can show.
test('clipboard held open by another program: setfiles -1 and changes nothing, getfiles 0 silently', async () => {
  assertRoundTrip(['C:\\kept']);
  await whileHeld(() => {
    assert.deepStrictEqual(veltools('clipboard', 'setfiles', 'C:\\lost'), { status: MINUS_1, stdout: Buffer.alloc(0) });
    assert.deepStrictEqual(veltools('clipboard', 'getfiles'), { status: 0, stdout: Buffer.alloc(0) });
  });
  assert.deepStrictEqual(clipboardBlock(), dropList(['C:\\kept']));
});

test('a list of ANSI paths (fWide 0) from another program prints as UTF-8', () => {
  const list = ['C:\\ansi\\café.txt', 'C:\\b', 'D:\\Ñandú\\ß'];
  clipboardHelper('putansi', ...list);
  assert.strictEqual(clipboardBlock().readUInt32LE(16), 0);
  assert.deepStrictEqual(veltools('clipboard', 'getfiles'), { status: 0, stdout: lines(list) });
});

test('a 32-bit console program that needs no DLL beyond the system\'s', () => {
  const headers = readPeHeaders(paths.veltools);
  assert.strictEqual(headers.machine, 0x14c, 'machine: x86');
  assert.strictEqual(headers.subsystem, 3, 'subsystem: console');
  assert.deepStrictEqual(headers.imports.map((name) => name.toLowerCase()).sort(),
                         ['kernel32.dll', 'msvcrt.dll', 'shell32.dll', 'user32.dll']);
});
