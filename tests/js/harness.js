'use strict';
// The cases of one test file, run in order inside node.exe under wine, or in
// Linux node natively. A failure names the case and prints the assertion's
// actual and expected values with the stack that points at it; the exit code
// counts failures.
const assert = require('assert');
const childProcess = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const util = require('util');

const build = process.env.VELMORA_BUILD;
const cases = [];

exports.paths = process.platform === 'win32' ? {
  build,
  addon: path.win32.join(build, 'addon-x64', 'src', 'velmora_node_sys.node'),
  testAddons: path.win32.join(build, 'addon-x64', 'tests', 'addon'),
  helpers: path.win32.join(build, 'mingw-i686', 'tests', 'helpers'),
  capture: path.win32.join(build, 'mingw-i686', 'capture', 'velmora_capture.exe'),
  veltools: path.win32.join(build, 'mingw-i686', 'tools', 'veltools.exe'),
  nodeExe: process.execPath,
} : {
  build,
  addon: path.join(build, 'linux-x64', 'src', 'velmora_node_sys.napi.node'),
  helpers: path.join(build, 'tests', 'linux'),
  nodeExe: process.execPath,
};

exports.test = (name, fn) => cases.push({ name, fn });

exports.sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Polls fn until it returns a truthy value or ms have passed; returns the last value.
exports.waitFor = async (fn, ms) => {
  const end = Date.now() + ms;
  let value;
  while (!(value = fn()) && Date.now() < end) await exports.sleep(20);
  return value;
};

// A child's output goes through a file: node.exe cannot start under wine with
// pipes for its standard streams.
function logFile() {
  const log = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'run-')), 'out.log');
  return { log, fd: fs.openSync(log, 'w') };
}

// Runs exe and returns its exit status and its output.
exports.runLogged = (exe, args, options) => {
  const { log, fd } = logFile();
  const result = childProcess.spawnSync(exe, args,
                                        Object.assign({ timeout: 60000 }, options, { stdio: ['ignore', fd, fd] }));
  fs.closeSync(fd);
  return { status: result.status, output: fs.readFileSync(log, 'utf8') };
};

// The same, leaving the script thread free meanwhile: a promise of the status
// and output.
exports.runLoggedAsync = (exe, args) => new Promise((resolve) => {
  const { log, fd } = logFile();
  childProcess.spawn(exe, args, { stdio: ['ignore', fd, fd] }).on('exit', (status) => {
    fs.closeSync(fd);
    resolve({ status, output: fs.readFileSync(log, 'utf8') });
  });
});

// Linux: the processes that a test started to serve it (X servers, a window
// manager); each ends with this process at the latest.
const servers = new Set();
process.on('exit', () => servers.forEach((server) => server.kill('SIGKILL')));

function serve(child) {
  servers.add(child);
  child.on('exit', () => servers.delete(child));
  child.unref();
  return () => new Promise((resolve) => {
    if (child.exitCode !== null || child.signalCode !== null) return resolve();
    // Referenced again, so that the loop waits for the end.
    child.ref();
    child.on('exit', () => resolve());
    child.kill('SIGKILL');
  });
}

// An X display of its own, on a number that Xvfb picks, or on the one given
// (to bring back a display that was stopped), with Xvfb's options given:
// { display: ':N', number, stop }. With -noreset: an X server resets once its
// last client has gone, and refuses connections meanwhile.
exports.startXvfb = (number, options = []) => new Promise((resolve, reject) => {
  const args = (number === undefined ? [] : [`:${number}`]).concat(options);
  const server = childProcess.spawn('Xvfb', args.concat(['-displayfd', '3', '-screen', '0', '640x480x24',
                                                        '-nolisten', 'tcp', '-noreset']),
                                    { stdio: ['ignore', 'ignore', 'ignore', 'pipe'] });
  const stop = serve(server);
  let text = '';
  server.stdio[3].on('data', (chunk) => {
    text += chunk;
    if (!text.includes('\n')) return;
    server.stdio[3].destroy();
    resolve({ display: `:${Number(text)}`, number: Number(text), stop });
  });
  server.on('exit', () => reject(new Error(`Xvfb ${args.join(' ')} ended before it was ready`)));
});

// Runs an X client on display and returns its standard output.
exports.xClient = (display, command, args) => {
  const result = childProcess.spawnSync(command, args, { encoding: 'utf8', timeout: 30000,
                                                         env: Object.assign({}, process.env, { DISPLAY: display }) });
  assert.strictEqual(result.status, 0, `${command} ${args.join(' ')}: ${result.stderr}`);
  return result.stdout;
};

// openbox, a reparenting window manager, on display; resolves once it runs.
exports.startWindowManager = async (display) => {
  const home = fs.mkdtempSync(path.join(os.tmpdir(), 'openbox-'));
  const stop = serve(childProcess.spawn('openbox', ['--sm-disable'], {
    stdio: 'ignore', env: Object.assign({}, process.env, { DISPLAY: display, HOME: home }),
  }));
  const running = () => /window id/.test(exports.xClient(display, 'xprop', ['-root', '_NET_SUPPORTING_WM_CHECK']));
  assert.ok(await exports.waitFor(running, 10000), 'openbox runs');
  return stop;
};

// Machine, subsystem and imported DLL names of a PE32 file, and whether it
// has delay-loaded imports.
exports.readPeHeaders = (file) => {
  const image = fs.readFileSync(file);
  const pe = image.readUInt32LE(0x3c);
  assert.strictEqual(image.toString('latin1', pe, pe + 4), 'PE\0\0');
  const sectionCount = image.readUInt16LE(pe + 6);
  const optionalHeader = pe + 24;
  assert.strictEqual(image.readUInt16LE(optionalHeader), 0x10b, 'PE32 optional header');
  const directory = (index) => optionalHeader + 96 + 8 * index;
  const sections = optionalHeader + image.readUInt16LE(pe + 20);
  const fileOffset = (rva) => {
    for (let s = sections; s < sections + 40 * sectionCount; s += 40) {
      const start = image.readUInt32LE(s + 12);
      if (rva >= start && rva < start + image.readUInt32LE(s + 8)) return rva - start + image.readUInt32LE(s + 20);
    }
    throw new Error(`RVA ${rva} lies in no section`);
  };
  const imports = [];
  for (let entry = fileOffset(image.readUInt32LE(directory(1))); image.readUInt32LE(entry + 12) !== 0; entry += 20) {
    const name = fileOffset(image.readUInt32LE(entry + 12));
    imports.push(image.toString('latin1', name, image.indexOf(0, name)));
  }
  return {
    machine: image.readUInt16LE(pe + 4),
    subsystem: image.readUInt16LE(optionalHeader + 68),
    imports,
    hasDelayImports: image.readUInt32LE(directory(13) + 4) !== 0,
  };
};

setImmediate(async () => {
  let failures = 0;
  for (const { name, fn } of cases) {
    try {
      await fn();
      console.log(`ok - ${name}`);
    } catch (e) {
      failures++;
      console.log(`not ok - ${name}`);
      if (e && 'actual' in e && 'expected' in e) {
        console.log(`  actual:   ${util.inspect(e.actual, { depth: 4 })}`);
        console.log(`  expected: ${util.inspect(e.expected, { depth: 4 })}`);
      }
      console.log(String(e && e.stack).replace(/^/gm, '  '));
    }
  }
  console.log(`${cases.length - failures} of ${cases.length} cases passed`);
  process.exitCode = failures === 0 ? 0 : 1;
});
