'use strict';
// veltools.exe: its command line and exit codes, the clipboard's file-drop
// block byte for byte, the printed lines, and its behaviour next to other
// programs that use the clipboard (clipboard_helper.exe). veltools is
// started by node.exe directly, a 64-bit parent as the client is, with a
// pipe for each standard stream: every case sees its stdout and its stderr
// apart.
const assert = require('assert');
const childProcess = require('child_process');
const fs = require('fs');
const os = require('os');
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

// A block of the 20-byte header (pFiles, fWide), then the names, each with
// its NUL, and the closing NUL, in UTF-16LE or in latin1 (code page 1252 for
// the names used here).
function block(pFiles, fWide, names, encoding = 'utf16le') {
  const header = Buffer.alloc(20);
  header.writeUInt32LE(pFiles, 0);
  header.writeUInt32LE(fWide, 16);
  return Buffer.concat([header, Buffer.from(names.map((p) => `${p}\0`).join('') + '\0', encoding)]);
}

// The block that veltools writes for a list.
const dropList = (list) => block(20, 1, list);

// Places bytes on the clipboard as its CF_HDROP block, as another program may.
function putRaw(bytes) {
  const file = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'block-')), 'block.bin');
  fs.writeFileSync(file, bytes);
  clipboardHelper('putraw', file);
  fs.unlinkSync(file);
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

// Runs fn while clipboard_helper holds the clipboard open, until fn returns
// or for ms milliseconds.
async function whileHeld(fn, ms) {
  const holder = childProcess.spawn(helper, ms ? ['hold', String(ms)] : ['hold'], { stdio: ['pipe', 'pipe', 'pipe'] });
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
test('a clipboard that another program holds: both commands wait for it about half a second, then give up', async () => {
  // Let go 450 ms after it was taken: veltools, started at once, finds it
  // held and gets it then, within its half second. A start slower than that
  // finds it free; either way the command succeeds.
  assertRoundTrip(['C:\\kept']);
  await whileHeld(() => assert.strictEqual(veltools('clipboard', 'setfiles', 'C:\\after').status, 0), 450);
  assert.deepStrictEqual(clipboardBlock(), dropList(['C:\\after']));
  await whileHeld(() => {
    assert.deepStrictEqual(veltools('clipboard', 'getfiles'), { status: 0, stdout: lines(['C:\\after']) });
  }, 450);
  // Held throughout: setfiles -1 and changes nothing, getfiles 0 silently.
  await whileHeld(() => {
    for (const [args, status] of [[['setfiles', 'C:\\lost'], MINUS_1], [['getfiles'], 0]]) {
      const start = Date.now();
      assert.deepStrictEqual(veltools('clipboard', ...args), { status, stdout: Buffer.alloc(0) });
      // Only a lower bound: a slow machine makes the wait longer, not shorter.
      const elapsed = Date.now() - start;
      assert.ok(elapsed >= 490, `${args[0]} gave up after ${elapsed} ms`);
    }
  });
  assert.deepStrictEqual(clipboardBlock(), dropList(['C:\\after']));
});

test('blocks from another program: ANSI names convert from the code page; a malformed block prints nothing', () => {
  const header = (pFiles, fWide) => block(pFiles, fWide, []).slice(0, 20);
  const name = Buffer.from('C:\\a\0', 'utf16le');
  const ansi = ['C:\\ansi\\café.txt', 'C:\\b', 'D:\\Ñandú\\ß'];
  for (const [bytes, list] of [
    [block(20, 0, ansi, 'latin1'), ansi],
    // Names at an odd offset, any non-zero fWide.
    [Buffer.concat([header(21, 7), Buffer.alloc(1), name, Buffer.alloc(2)]), ['C:\\a']],
    // Malformed: pFiles outside the list, blocks cut short.
    [block(0x7ffffff0, 1, ['C:\\a']), []],
    [block(4, 1, ['C:\\a']), []],
    [Buffer.from([20, 0, 0, 0]), []],
    [Buffer.concat([header(20, 1), name]), []],
    [Buffer.concat([header(20, 1), name, Buffer.alloc(1)]), []],
    [Buffer.concat([header(20, 0), Buffer.from('C:\\a')]), []],
  ]) {
    putRaw(bytes);
    assert.deepStrictEqual(clipboardBlock(), bytes);
    assert.deepStrictEqual(veltools('clipboard', 'getfiles'), { status: 0, stdout: lines(list) }, bytes.toString('hex'));
  }
});

// Its time is measured by scripts/bench.sh veltools; read name by name, as
// before, this took minutes.
test('300,000 names from another program print whole, in order', () => {
  const list = Array.from({ length: 300000 }, (_, i) => String.fromCharCode(0x4e00 + (i % 20000)));
  putRaw(dropList(list));
  assert.deepStrictEqual(veltools('clipboard', 'getfiles'), { status: 0, stdout: lines(list) });
});

test('a 32-bit console program that needs no DLL beyond the system\'s, as the benchmark\'s floor', () => {
  const imports = (exe) => readPeHeaders(exe).imports.map((name) => name.toLowerCase()).sort();
  const headers = readPeHeaders(paths.veltools);
  assert.strictEqual(headers.machine, 0x14c, 'machine: x86');
  assert.strictEqual(headers.subsystem, 3, 'subsystem: console');
  assert.deepStrictEqual(imports(paths.veltools), ['kernel32.dll', 'msvcrt.dll', 'user32.dll']);
  // noop.exe, the floor of scripts/bench-veltools.js, loads the same DLLs.
  assert.deepStrictEqual(imports(path.win32.join(paths.helpers, 'noop.exe')), imports(paths.veltools));
});
