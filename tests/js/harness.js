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
  // Run through another glibc's loader (NODE_GLIBC), node's execPath is the
  // loader, and argv0 node itself.
  nodeExe: process.env.NODE_GLIBC ? process.argv0 : process.execPath,
};

// The file and arguments that run the node executable exe with args: on
// Linux, on the glibc that this test runs on, as linux-node.sh starts it.
exports.nodeCommand = (exe, args) => {
  const glibc = process.platform === 'linux' && process.env.NODE_GLIBC;
  if (!glibc) return [exe, args];
  const libraries = ['lib', 'usr/lib'].map((dir) => path.join(glibc, dir, 'x86_64-linux-gnu'));
  return [path.join(libraries[0], 'ld-linux-x86-64.so.2'), ['--library-path', libraries.join(':'), exe, ...args]];
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

// Linux: the processes that a test starts to serve it (X servers, a window
// manager, bus daemons and stand-ins of services). Nothing waits for them,
// and each ends with the test at the latest, also when the test is timed
// out. serve(child) returns child's stop(), which ends it and resolves then.
const servers = new Set();
function serve(child) {
  if (!serve.armed) {
    serve.armed = true;
    process.on('exit', () => servers.forEach((server) => server.kill('SIGKILL')));
    process.once('SIGTERM', () => process.exit(1));
  }
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

// Starts command as serve() does; the process's stop() ends it.
function startService(command, args, options) {
  const service = childProcess.spawn(command, args, options);
  service.stop = serve(service);
  return service;
}

// A private D-Bus bus, its daemon listening on a path socket (an abstract
// one would belong to the network namespace), at dir/socket for a new folder
// unless dir is given (a bus started again at the same address). Resolves to
// { address, dir, call, stop }; call(dest, path, method, ...args) runs gdbus
// call and returns its output.
exports.startBus = async (dir = fs.mkdtempSync(path.join(os.tmpdir(), 'bus-'))) => {
  const config = path.join(dir, 'bus.conf');
  fs.writeFileSync(config, `<busconfig><listen>unix:path=${dir}/socket</listen><auth>EXTERNAL</auth>
    <policy context="default"><allow user="*"/><allow own="*"/><allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/></policy></busconfig>`);
  // As root in a container it reports, harmlessly, that it cannot raise its descriptor limit.
  const daemon = startService('dbus-daemon', [`--config-file=${config}`, '--nofork', '--print-address=1'],
                              { stdio: ['ignore', 'pipe', 'ignore'] });
  await new Promise((resolve) => daemon.stdout.once('data', resolve));
  daemon.stdout.destroy();
  const address = `unix:path=${dir}/socket`;
  const call = (dest, object, method, ...args) => {
    const result = childProcess.spawnSync('gdbus', ['call', '--address', address, '--dest', dest,
      '--object-path', object, '--method', method, ...args], { encoding: 'utf8', timeout: 10000 });
    if (result.status !== 0) throw new Error(`gdbus call ${method}: ${result.stderr}`);
    return result.stdout;
  };
  return { address, dir, call, stop: daemon.stop };
};

// Starts python3-dbusmock on bus with args (--template NAME, or NAME PATH
// INTERFACE) and resolves to its process, whose stop() ends it, once name is
// on the bus. A stand-in ends by itself with its bus.
exports.startMock = async (bus, name, args) => {
  const env = Object.assign({}, process.env, { DBUS_SYSTEM_BUS_ADDRESS: bus.address,
                                               DBUS_SESSION_BUS_ADDRESS: bus.address });
  const mock = startService('/usr/bin/python3', ['-m', 'dbusmock', ...args], { env, stdio: ['ignore', 'ignore', 'inherit'] });
  const waited = await exports.runLoggedAsync('gdbus', ['wait', '--address', bus.address, '--timeout', '10', name]);
  assert.strictEqual(waited.status, 0, `${name} on the bus`);
  return mock;
};

// logind's stand-in (logind_stand_in.py) on bus, with its parameters.
exports.startLogind = (bus, parameters) => exports.startMock(bus, 'org.freedesktop.login1',
  ['--template', path.join(__dirname, 'logind_stand_in.py'), '-p', JSON.stringify(parameters)]);

// Runs the actions in turn, 150 ms apart so that the addon has handled each
// before the next, then waits for as many events as expected (5 s at most)
// and 300 ms more for any other. A callback fills events.
exports.expectEvents = async (events, actions, expected) => {
  events.length = 0;
  for (const action of actions) {
    await action();
    await exports.sleep(150);
  }
  await exports.waitFor(() => events.length >= expected.length, 5000);
  await exports.sleep(300);
  assert.deepStrictEqual(events, expected);
};

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
// It announces itself (_NET_SUPPORTING_WM_CHECK) before it reads its theme
// and menus, and a window mapped right after that was, about once in ten
// runs here, still unmanaged 10 s later; it publishes the work area once it
// has started.
exports.startWindowManager = async (display) => {
  const home = fs.mkdtempSync(path.join(os.tmpdir(), 'openbox-'));
  const stop = serve(childProcess.spawn('openbox', ['--sm-disable'], {
    stdio: 'ignore', env: Object.assign({}, process.env, { DISPLAY: display, HOME: home }),
  }));
  const running = () => /CARDINAL/.test(exports.xClient(display, 'xprop', ['-root', '_NET_WORKAREA']));
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

// A script with no cases (a benchmark's) only borrows the helpers.
setImmediate(async () => {
  if (cases.length === 0) return;
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
