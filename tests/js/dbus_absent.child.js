'use strict';
// The answers of the addon's functions and of a watch, printed as JSON: run
// by dbus.test.js in a process with no bus, or no libdbus-1.
exports.answers = (addon) => ({
  directory: addon.getKnownDirectory('Desktop'),
  processes: addon.getProcessesOfSameExeFile(2147483647),
  window: addon.findChromeWindow(),
  keyState: addon.getKeyState('Shift'),
  keys: String(addon.simulateKeys('')),
  badge: String(addon.setBadge('3')),
});

if (require.main === module) {
  const addon = require(process.argv[2]);
  const idle = (wayland) => {
    process.env.WAYLAND_DISPLAY = wayland ? 'wayland-0' : '';
    return addon.getUserIdleTime();
  };
  const events = [];
  const answers = Object.assign(exports.answers(addon), {
    watch: addon.watch((type) => type !== 'network' && events.push(type)),
    waylandIdle: idle(true),
    xIdle: idle(false),
  });
  setTimeout(() => {
    answers.unwatch = addon.unwatch();
    answers.events = events;
    console.log(JSON.stringify(answers));
  }, 1500);
}
