// How a client script uses the addon, checked against index.d.ts by the
// TypeScript compiler. Each @ts-expect-error line is a misuse that must not
// compile: if it ever does, the directive itself is reported as an error.
import * as sys from '../../index';

const idle: number = sys.getUserIdleTime();
const desktop: string = sys.getKnownDirectory('Desktop');
const startup: string = sys.getKnownDirectory('Statrup');
const processes: Array<{ pid: number; ppid: number }> = sys.getProcessesOfSameExeFile();
const parents: number[] = sys.getProcessesOfSameExeFile(1234).map((p) => p.ppid);
const window: number = sys.findChromeWindow();
const shift: number = sys.getKeyState('Shift');
sys.simulateKeys('Ctrl+Shift+A');
sys.simulateKeys('Ctrl+A', 'down');
sys.simulateKeys('Ctrl+A', 'up');
sys.setBadge('3');
sys.setBadge();

const status: 0 | 1 | -3 = sys.watch((type, state) => {
  if (type === 'network') {
    const online: boolean = state === 'on';
    // @ts-expect-error: network events are only "on" and "off".
    if (state === 'dimmed') return;
  }
  if (type === 'display' && state === 'dimmed') return;
  if (type === '???') {
    const unknown: '???' = state;
  }
  // @ts-expect-error: there is no "wifi" event.
  if (type === 'wifi') return;
});
sys.watch((type, state) => {
  if (type === 'battery') {
    const percent: number = Number(state);
  }
  // @ts-expect-error: the system event is never "sleep".
  if (type === 'system' && state === 'sleep') return;
}, { power: true });
const wasWatching: boolean = sys.unwatch();

// @ts-expect-error: watch answers 0, 1 or -3, never 2.
const impossible: 2 = sys.watch(() => {});
// @ts-expect-error: the callback takes the event's two strings, not a number.
sys.watch((code: number) => {});
// @ts-expect-error: folder names are case-sensitive.
sys.getKnownDirectory('desktop');
// @ts-expect-error: getKeyState knows only the key names of its table.
sys.getKeyState('A');
// @ts-expect-error: the mode is 'down' or 'up'.
sys.simulateKeys('Ctrl+A', 'press');
// @ts-expect-error: the power option is a boolean.
sys.watch(() => {}, { power: 'yes' });
// @ts-expect-error: unwatch answers a boolean.
const count: number = sys.unwatch();
