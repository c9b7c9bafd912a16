'use strict';
// The Linux network source, in namespaces of its own: each case runs the
// addon in a node child under `unshare -n` (a namespace with only lo, down)
// and changes that namespace with `nsenter ... ip`. A veth pair stands for a
// network card: taking the peer v1 down takes v0's carrier away. Needs root.
const assert = require('assert');
const childProcess = require('child_process');
const fs = require('fs');
const path = require('path');
const readline = require('readline');
const { test, paths, sleep, waitFor } = require('./harness');

// How long a case waits to see that nothing more arrives.
const QUIET_MS = 400;

// A node child in a namespace of its own, with the addon loaded.
class Namespace {
  static async start() {
    const ns = new Namespace();
    await ns.reply('ready');
    // Never change the machine's own namespace.
    assert.notStrictEqual(fs.readlinkSync(`/proc/${ns.pid}/ns/net`), fs.readlinkSync('/proc/self/ns/net'));
    return ns;
  }

  constructor() {
    this.child = childProcess.spawn('unshare', ['-n', paths.nodeExe, path.join(__dirname, 'network.child.js'),
                                                paths.addon], { stdio: ['pipe', 'pipe', 'inherit'], timeout: 120000 });
    this.pid = String(this.child.pid);
    this.events = [];
    this.replies = [];
    readline.createInterface({ input: this.child.stdout }).on('line', (line) => {
      const message = JSON.parse(line);
      (message.type ? this.events : this.replies).push(message);
    });
  }

  async reply(name) {
    assert.ok(await waitFor(() => this.replies.some((reply) => name in reply), 10000), `no ${name}`);
    return this.replies.splice(this.replies.findIndex((reply) => name in reply), 1)[0][name];
  }

  command(name) {
    this.child.stdin.write(`${name}\n`);
    return this.reply(name);
  }

  // Runs each `ip` command line in the namespace; the last one's output.
  ip(...commands) {
    return commands.map((command) => childProcess.execFileSync('nsenter', ['-t', this.pid, '-n', 'ip',
      ...command.split(' ')], { encoding: 'utf8', timeout: 10000 })).pop();
  }

  prlimit(limit) {
    childProcess.execFileSync('prlimit', ['--pid', this.pid, limit], { timeout: 10000 });
  }

  // Runs change, then expects exactly the given states, each within a second
  // of the change's start, and nothing more for a while.
  async expect(states, change) {
    this.events = [];
    const start = Date.now();
    await change();
    await waitFor(() => this.events.length >= states.length, 5000);
    await sleep(QUIET_MS);
    assert.deepStrictEqual(this.events.map((event) => event.state), states);
    for (const { state, time } of this.events) assert.ok(time - start < 1000, `${state} after ${time - start} ms`);
  }

  end() {
    this.child.stdin.end();
    this.child.kill();
  }
}

const card = ['link add v0 type veth peer name v1', 'addr add 10.0.0.1/24 dev v0', 'link set v0 up'];

test('offline to on and back, through carrier, addresses and the link\'s removal: each change once', async () => {
  const ns = await Namespace.start();
  try {
    // An offline start posts nothing; loopback, or a card without carrier, is offline.
    await ns.expect([], async () => assert.strictEqual(await ns.command('watch'), 0));
    await ns.expect([], () => ns.ip('link set lo up'));
    await ns.expect([], () => ns.ip(...card));
    await ns.expect(['on'], () => ns.ip('link set v1 up'));
    await ns.expect(['off'], () => ns.ip('link set v1 down'));
    await ns.expect(['on'], () => ns.ip('link set v1 up'));
    await ns.expect(['off'], () => ns.ip('addr del 10.0.0.1/24 dev v0'));

    // v0's own link-local address once detected, and each address added alone, is not enough.
    assert.ok(await waitFor(() => /inet6 fe80::(?!.*tentative)/.test(ns.ip('-6 addr show dev v0')), 5000));
    await ns.expect([], () => ns.ip('addr add 169.254.7.7/16 dev v0'));
    await ns.expect([], () => ns.ip('addr add fe80::7/64 dev v0 nodad'));
    await ns.expect(['on'], () => ns.ip('addr add 2001:db8::1/64 dev v0 nodad'));
    await ns.expect(['off'], () => ns.ip('addr del 2001:db8::1/64 dev v0'));

    // A global address under duplicate address detection: "on" only once the
    // kernel has cleared its tentative flag, never before an `ip` that still
    // showed the flag.
    ns.events = [];
    ns.ip('addr add 2001:db8::2/64 dev v0');
    let tentativeAt = 0;
    for (let before = Date.now(); /2001:db8::2\/64 scope global tentative/.test(ns.ip('-6 addr show dev v0'));
      before = Date.now()) {
      tentativeAt = before;
      await sleep(20);
    }
    assert.ok(tentativeAt > 0, 'the address was never seen tentative');
    assert.ok(await waitFor(() => ns.events.length > 0, 1000), 'no event once the address was not tentative');
    await sleep(QUIET_MS);
    assert.deepStrictEqual(ns.events.map((event) => event.state), ['on']);
    assert.ok(ns.events[0].time >= tentativeAt, `"on" ${tentativeAt - ns.events[0].time} ms early`);

    await ns.expect(['off'], () => ns.ip('link del v0'));
  } finally {
    ns.end();
  }
});

test('an online start posts "on" at the first watch; later watches get changes only, and the source follows while nothing is watched', async () => {
  const ns = await Namespace.start();
  try {
    ns.ip(...card, 'link set v1 up');
    await ns.expect(['on'], () => ns.command('watch'));
    assert.strictEqual(await ns.command('unwatch'), true);
    await ns.expect([], () => ns.command('watch'));
    assert.strictEqual(await ns.command('unwatch'), true);
    // Posted while nothing is watched, once the source has seen it: dropped.
    ns.ip('link set v1 down');
    await sleep(QUIET_MS);
    await ns.expect([], () => ns.command('watch'));
    await ns.expect(['on'], () => ns.ip('link set v1 up'));
  } finally {
    ns.end();
  }
});

// Limits set from outside on the running child: its address space capped
// just above what it uses, so that no thread stack can be mapped, then its
// descriptors, so that no socket can be made.
test('a thread that cannot be created answers -3 and the next watch starts it; sockets that cannot be made are made again later', async () => {
  const ns = await Namespace.start();
  try {
    ns.ip(...card, 'link set v1 up');
    const proc = (name) => fs.readFileSync(`/proc/${ns.pid}/${name}`, 'utf8');
    ns.prlimit(`--as=${Number(/VmSize:\s+(\d+) kB/.exec(proc('status'))[1]) * 1024 + (1 << 20)}:`);
    await ns.expect([], async () => assert.strictEqual(await ns.command('watch'), -3));
    assert.strictEqual(await ns.command('unwatch'), true);
    ns.prlimit('--as=unlimited:');

    const openFiles = /Max open files\s+(\d+)/.exec(proc('limits'))[1];
    ns.prlimit('--nofile=1:');
    await ns.expect([], async () => assert.strictEqual(await ns.command('watch'), 0));
    await sleep(1000);
    assert.deepStrictEqual(ns.events, []);
    ns.prlimit(`--nofile=${openFiles}:`);
    const lifted = Date.now();
    // The source makes its sockets again every 5 s.
    assert.ok(await waitFor(() => ns.events.length > 0, 6500), 'no event after the limit was lifted');
    await sleep(QUIET_MS);
    assert.deepStrictEqual(ns.events.map((event) => event.state), ['on']);
    assert.ok(ns.events[0].time - lifted < 6000, `${ns.events[0].time - lifted} ms`);
  } finally {
    ns.end();
  }
});
