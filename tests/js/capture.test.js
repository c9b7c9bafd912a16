'use strict';
// velmora_capture.exe with a test double of NiuNiuCapture.dll beside it
// (helpers/capture_double.cc): the calls the double logs, the exit code, and
// the standard streams. Wine hands a windowed program the pipes it is
// started with, so its buffered output arrives there at a normal exit. The
// launcher is started by node.exe directly, a 64-bit parent as the client
// is, or through helpers/plain_start.cc, which hands over handles alone.
// The ANSI code page is 1252 here: wine takes it from the locale node.exe
// starts in (C.UTF-8 maps to en-US); LC_ALL or LANG in a child's
// environment does not change it.
const assert = require('assert');
const childProcess = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { test, paths, readPeHeaders, sleep, waitFor } = require('./harness');

const PROMPT = 'press any key to abort';

// A folder of its own (named folder inside a new one, when given) holding
// the launcher and, unless component is null, the chosen build of the
// double as NiuNiuCapture.dll; with utf8, a UTF-8 ANSI code page for the
// launcher, as Windows' system-wide setting gives (wine honours a manifest's).
function prepareFolder(component, folder, utf8) {
  const base = fs.mkdtempSync(path.join(os.tmpdir(), 'capture-'));
  const dir = folder ? path.join(base, folder) : base;
  if (folder) fs.mkdirSync(dir);
  const exe = path.join(dir, 'velmora_capture.exe');
  fs.copyFileSync(paths.capture, exe);
  if (component) fs.copyFileSync(path.join(paths.helpers, `${component}.dll`), path.join(dir, 'NiuNiuCapture.dll'));
  if (utf8) {
    fs.writeFileSync(`${exe}.manifest`, '<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">' +
      '<application xmlns="urn:schemas-microsoft-com:asm.v3"><windowsSettings><activeCodePage xmlns=' +
      '"http://schemas.microsoft.com/SMI/2019/WindowsSettings">UTF-8</activeCodePage></windowsSettings></application></assembly>');
  }
  return { base, exe, log: path.join(base, 'calls.log') };
}

function environment(log, { result = 1, callback = 'thread', env = {} }) {
  const base = Object.assign({}, process.env);
  delete base.POSIXLY_CORRECT;
  return Object.assign(base, {
    CAPTURE_DOUBLE_LOG: log, CAPTURE_DOUBLE_RESULT: String(result), CAPTURE_DOUBLE_CALLBACK: callback,
  }, env);
}

function readCalls(log) {
  return fs.existsSync(log) ? fs.readFileSync(log, 'utf8').split('\n').filter((line) => line !== '') : [];
}

// Runs the launcher to its end; args as a string: the command line after its
// path, through plain_start unchanged. options: component (default the whole
// double, null for none) or prepared (a folder from prepareFolder), result,
// callback (thread, sync, never), env, starter (plain_start, or by default
// none).
function runCapture(args, options = {}) {
  const { exe, log } = options.prepared ||
    prepareFolder(options.component === undefined ? 'capture_double' : options.component);
  const line = typeof args === 'string';
  const [file, starterArgs] = options.starter === 'plain_start' || line
    ? [path.win32.join(paths.helpers, 'plain_start.exe'), line ? [`"${exe}" ${args}`] : [exe, ...args]] : [exe, args];
  const run = childProcess.spawnSync(file, starterArgs,
    { encoding: 'latin1', timeout: 60000, env: environment(log, options), windowsVerbatimArguments: line });
  assert.strictEqual(run.error, undefined);
  return { status: run.status, stdout: run.stdout, stderr: run.stderr, calls: readCalls(log), exe };
}

// The calls of a started capture, as the double logs them.
function captureCalls(o, k) {
  return [
    `InitScreenCapture("${k}")`,
    'InitCaptureParam(1, 2)',
    'InitCaptureParam(2, 0)',
    'InitCaptureParam(6, 1)',
    'InitCaptureParam(8, "VelmoraIM")',
    'InitCaptureParam(10, "")',
    `StartScreenCapture("${o}", launcher callback, 0, 0, 0, 0, 0, 0, 0, 0)`,
  ];
}

// Asserts a capture that started with o and k and ended normally with the
// result 1.
function assertCaptured(run, o, k) {
  assert.deepStrictEqual(run.calls, captureCalls(o, k));
  assert.strictEqual(run.status, 0);
  assert.strictEqual(run.stdout, PROMPT);
}

test('a 32-bit windowed program that imports kernel32 and msvcrt only, as the benchmark\'s floor does', () => {
  const imports = (exe) => readPeHeaders(exe).imports.map((name) => name.toLowerCase()).sort();
  const headers = readPeHeaders(paths.capture);
  assert.strictEqual(headers.machine, 0x14c);  // IMAGE_FILE_MACHINE_I386
  assert.strictEqual(headers.subsystem, 2);  // IMAGE_SUBSYSTEM_WINDOWS_GUI: no console window
  // No shell32.dll: loading it took longer than the rest of the start.
  assert.deepStrictEqual(imports(paths.capture), ['kernel32.dll', 'msvcrt.dll']);
  assert.strictEqual(headers.hasDelayImports, false);
  // noop_windowed.exe, the floor of scripts/bench-veltools.js, is built and loads alike.
  const floor = path.win32.join(paths.helpers, 'noop_windowed.exe');
  assert.strictEqual(readPeHeaders(floor).subsystem, 2);
  assert.deepStrictEqual(imports(floor), imports(paths.capture));
});

test('callback results 1, 2, 0, -1 and others give exit codes 0, 3, 4, 4, 4', () => {
  for (const [result, code] of [[1, 0], [2, 3], [0, 4], [-1, 4], [3, 4], [2147483647, 4]]) {
    const run = runCapture([], { result });
    assert.strictEqual(run.status, code, `result ${result}`);
    assert.strictEqual(run.stdout, PROMPT, `result ${result}`);
    assert.strictEqual(run.stderr, '', `result ${result}`);
  }
});

test('a callback inside StartScreenCapture ends the process before the prompt', () => {
  for (const [result, code] of [[1, 0], [2, 3], [-1, 4]]) {
    const run = runCapture(['-o', 'out', '-k', 'key'], { result, callback: 'sync' });
    assert.strictEqual(run.status, code, `result ${result}`);
    assert.deepStrictEqual(run.calls, captureCalls('out', 'key'));
    assert.strictEqual(run.stdout, '');
  }
});

test('the calls, in order, with their arguments', () => {
  assertCaptured(runCapture(['-o', 'C:\\shots\\a.png', '-k', 'key-1']), 'C:\\shots\\a.png', 'key-1');
});

test('no options: empty texts', () => {
  assertCaptured(runCapture([]), '', '');
});

test('an option given twice: the last value counts', () => {
  assertCaptured(runCapture(['-o', 'first', '-k', 'k1', '-ksecond-k', '-o', 'second']), 'second', 'second-k');
});

test('-l is accepted and never reaches the component', () => {
  const run = runCapture(['-l', 'L-VALUE', '-o', 'out', '-lL-AGAIN']);
  assertCaptured(run, 'out', '');
  assert.ok(!run.calls.join('\n').includes('L-'));
});

test('values that just fit pass whole: -k of 63 bytes, -o and -l of 4095', () => {
  const k = 'k'.repeat(62) + 'K';
  const o = 'o'.repeat(4094) + 'O';
  assertCaptured(runCapture(['-k', k, '-o', o, '-l', 'l'.repeat(4095)]), o, k);
});

test('a value longer than its buffer: one line on stderr, exit code 1, nothing called', () => {
  const cases = [
    [['-k', 'k'.repeat(64)], 'k', 63],
    [['-o', 'o'.repeat(4096)], 'o', 4095],
    [['-l', 'l'.repeat(4096)], 'l', 4095],
    [['-o', 'out', `-k${'k'.repeat(100)}`], 'k', 63],
  ];
  for (const [args, option, limit] of cases) {
    const run = runCapture(args);
    assert.strictEqual(run.status, 1, `-${option}`);
    assert.strictEqual(run.stderr, `${run.exe}: option value longer than ${limit} bytes -- ${option}\r\n`);
    assert.strictEqual(run.stdout, '');
    assert.deepStrictEqual(run.calls, []);
  }
});

test('options and values written apart or joined; the C runtime\'s quoting rules', () => {
  assertCaptured(runCapture(['-oC:\\a b\\c.png', '-k', 'say "hi"']), 'C:\\a b\\c.png', 'say "hi"');
  // A doubled quote inside quotes, which CommandLineToArgvW reads otherwise; wildcards.
  assertCaptured(runCapture('-o "a""b c" -k "x""" y'), 'a"b c', 'x"');
  assertCaptured(runCapture(['-o', '*', '-k', 'a?c', '*.*']), '*', 'a?c');
});

test('arguments in the ANSI code page: the component gets the text the starter gave', () => {
  // The double logs what it got converted from the ANSI code page; é is in
  // the prefix's code page (1252 here).
  assertCaptured(runCapture(['-o', 'café.png']), 'café.png', '');
});

test('arguments that the code page cannot hold exactly: one line on stderr naming the first, exit code 1, nothing loaded', () => {
  for (const [args, position] of [
    [['-o', 'C:\\文档\\a.png'], 2],  // would reach the component as "C:\??\a.png"
    [['\uff0dk', 'injected'], 1],  // best fit would make it the option -k
    [['-o', 'out', 'x\uff02y z\uff02'], 3],  // a fullwidth quote would split the line elsewhere
    [['-o', 'out', 'ignored', 'é', '\u0100'], 5],  // non-options too
  ]) {
    for (const component of ['capture_double', null]) {
      const run = runCapture(args, { component });
      assert.strictEqual(run.status, 1, args.join(' '));
      assert.strictEqual(run.stderr, `${run.exe}: argument ${position} does not convert exactly to the ANSI code page\r\n`);
      assert.strictEqual(run.stdout, '');
      assert.deepStrictEqual(run.calls, []);
    }
  }
});

test('the component is looked for by the UTF-16 path of the launcher\'s folder', () => {
  // "\uff30rograms" reads "Programs" in code page 1252, where a decoy lacking
  // an entry point would be found.
  const prepared = prepareFolder('capture_double', '\uff30rograms');
  fs.mkdirSync(path.join(prepared.base, 'Programs'));
  fs.copyFileSync(path.join(paths.helpers, 'capture_double_without_StartScreenCapture.dll'),
                  path.join(prepared.base, 'Programs', 'NiuNiuCapture.dll'));
  assertCaptured(runCapture(['-o', 'out'], { prepared }), 'out', '');
});

test('non-options anywhere are ignored', () => {
  assertCaptured(runCapture(['a', '-o', 'x', 'b', '-', '-k', 'y', 'c']), 'x', 'y');
});

test('"--" ends the options', () => {
  assertCaptured(runCapture(['-o', 'x', '--', '-k', 'y']), 'x', '');
});

test('an unknown option and a missing argument are reported on stderr, in text mode, from either starter', () => {
  for (const starter of [undefined, 'plain_start']) {
    const run = runCapture(['-x', '-o', 'out', '-k'], { starter });
    assertCaptured(run, 'out', '');
    assert.strictEqual(run.stderr,
      `${run.exe}: illegal option -- x\r\n${run.exe}: option requires an argument -- k\r\n`);
  }
});

// A stream whose descriptor holds stdin's handle, whatever handle the startup
// information names for it, keeps writing there: closing it would close
// stdin's handle too.
test('one handle handed as stdin and as stdout or stderr: the component still reads stdin, the prompt still arrives', () => {
  for (const [way, stream, inFile, onStdout] of [['AND', 'STDOUT', PROMPT, ''], ['AND', 'STDERR', '', PROMPT],
    ['UNDER', 'STDOUT', PROMPT, ''], ['UNDER', 'STDERR', '', PROMPT]]) {
    const file = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'shared-')), 'shared.txt');
    fs.writeFileSync(file, 'typed\r\n');
    const env = { [`PLAIN_START_STDIN_${way}_${stream}`]: file, CAPTURE_DOUBLE_STDIN: '' };
    const run = runCapture([], { starter: 'plain_start', env });
    assert.deepStrictEqual(run.calls.slice(7), ['stdin "typed", STD_INPUT_HANDLE the same'], `${way} ${stream}`);
    assert.deepStrictEqual([run.status, run.stdout, fs.readFileSync(file, 'latin1')], [0, onStdout, `typed\r\n${inFile}`],
                           `${way} ${stream}`);
  }
});

test('POSIXLY_CORRECT set: options after a non-option are not read', () => {
  assertCaptured(runCapture(['file', '-o', 'x'], { env: { POSIXLY_CORRECT: '' } }), '', '');
  assertCaptured(runCapture(['-o', 'x', 'file', '-k', 'y'], { env: { POSIXLY_CORRECT: '1' } }), 'x', '');
});

test('component missing: the full path tried, exit code 2, even with a faulty command line', () => {
  for (const args of [[], ['-k', 'k'.repeat(64), '-x']]) {
    const run = runCapture(args, { component: null });
    assert.strictEqual(run.status, 2);
    assert.strictEqual(run.stdout, `ERROR: LoadLibraryA ${path.join(path.dirname(run.exe), 'NiuNiuCapture.dll')} failed`);
    assert.strictEqual(run.stderr, '');
  }
});

test('in a UTF-8 ANSI code page: any argument passes, and the message shows the path whole in UTF-8', () => {
  const o = 'C:\\文档\\😀.png';
  assertCaptured(runCapture(['-o', o, '-k', '\uff0dk'], { prepared: prepareFolder('capture_double', null, true) }), o, '\uff0dk');
  // 250 bytes, near Linux's 255 for a name, nearly all of 3 bytes a UTF-16
  // unit (文档): the whole path needs more than 2 bytes a unit, so a message
  // sized by its UTF-16 length would cut it.
  const folder = `${'文档'.repeat(41)}😀`;
  const missing = prepareFolder(null, folder, true);
  const run
 = runCapture([], { prepared: missing });
  assert.strictEqual(run.status, 2);
  assert.strictEqual(Buffer.from(run.stdout, 'latin1').toString('utf8'),
                     `ERROR: LoadLibraryA ${path.join(missing.base, folder, 'NiuNiuCapture.dll')} failed`);
});

test('component lacking an entry point: its name, exit code 2, nothing called', () => {
  for (const entry of ['StartScreenCapture', 'InitScreenCapture', 'InitCaptureParam']) {
    const run = runCapture(['-o', 'out'], { component: `capture_double_without_${entry}` });
    assert.strictEqual(run.status, 2, entry);
    assert.strictEqual(run.stdout, `ERROR: GetProcAddress ${entry} failed`);
    assert.deepStrictEqual(run.calls, []);
  }
});

test('a component that never calls back leaves the launcher waiting until it is ended', async () => {
  const { exe, log } = prepareFolder('capture_double');
  const child = childProcess.spawn(exe, ['-o', 'out'], { env: environment(log, { callback: 'never' }) });
  let stdout = '';
  child.stdout.on('data', (data) => { stdout += data; });
  const exited = new Promise((resolve) => child.on('exit', resolve));
  try {
    assert.ok(await waitFor(() => readCalls(log).length === 7, 30000), 'capture started');
    // Waiting is what is tested: the launcher must still be there a while later.
    await sleep(2000);
    assert.strictEqual(child.exitCode, null);
  } finally {
    child.kill();
  }
  await exited;
  assert.deepStrictEqual(readCalls(log), captureCalls('out', ''));
  // Ended from outside, it loses its buffered prompt.
  assert.strictEqual(stdout, '');
});
