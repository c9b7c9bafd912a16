// Types of velmora_node_sys, the client's native system addon (Windows x64
// and ia32, Linux x64 on glibc). No function throws on its own account:
// failures come back in the result, the same values on both systems.

/** Key names known to getKeyState and simulateKeys (case-sensitive). */
export type KeyName =
  | 'Ctrl' | 'Control' | 'Cmd' | 'LCtrl' | 'LControl' | 'LCmd' | 'RCtrl' | 'RControl' | 'RCmd'
  | 'Shift' | 'LShift' | 'RShift'
  | 'Alt' | 'Option' | 'Menu' | 'LAlt' | 'LOption' | 'LMenu' | 'RAlt' | 'ROption' | 'RMenu'
  | 'Win' | 'Super' | 'Meta' | 'LWin' | 'LSuper' | 'LMeta' | 'RWin' | 'RSuper' | 'RMeta'
  | 'Backspace' | 'Back' | 'Enter' | 'Return' | 'Tab' | 'Caps' | 'Caption'
  | 'F1' | 'F2' | 'F3' | 'F4' | 'F5' | 'F6' | 'F7' | 'F8' | 'F9' | 'F10' | 'F11' | 'F12'
  | 'F13' | 'F14' | 'F15' | 'F16' | 'F17' | 'F18' | 'F19' | 'F20' | 'F21' | 'F22' | 'F23' | 'F24';

/**
 * Folder names of getKnownDirectory (case-sensitive). Where the shell has
 * known folders (Vista and later) the first group and the shared group
 * resolve; on older shells the shared group and the last group do. On Linux,
 * by the XDG rules: Profile, Home, Desktop, Documents, Downloads, Music,
 * Pictures, Video, Templates, Public, RoamingAppData, LocalAppData, Startup,
 * Programs, StartMenu, CommonStartup, CommonPrograms, CommonStartMenu and
 * Fonts; any other name gives "".
 */
export type KnownDirectoryName =
  // Both lookups.
  | 'Windows' | 'System' | 'Fonts' | 'ProgramFiles' | 'ProgramFilesX86' | 'Profile' | 'Home'
  | 'Recent' | 'Templates' | 'Cookies' | 'Desktop' | 'Documents' | 'Favorites' | 'Music'
  | 'Pictures' | 'Video' | 'Programs' | 'CommonDesktop' | 'CommonDocuments' | 'CommonMusic'
  | 'CommonPictures' | 'CommonPrograms' | 'CommonTemplates'
  // Known folders only.
  | 'SystemX86' | 'Resource' | 'ProgramFilesX64' | 'CommonProgramFiles' | 'CommonProgramFilesX64'
  | 'CommonProgramFilesX86' | 'StartMenu' | 'Startup' | 'LocalAppData' | 'LocalAppDataLow'
  | 'RoamingAppData' | 'Contacts' | 'Downloads' | 'Libraries' | 'Links' | 'AccountPictures'
  | 'Public' | 'PublicDesktop' | 'PublicDocuments' | 'PublicDownloads' | 'PublicLibrary'
  | 'PublicMusic' | 'PublicPictures' | 'PublicVideos' | 'CommonDownloads' | 'CommonLibrary'
  | 'CommonVideos' | 'CommonStartMenu' | 'CommonStartup'
  // Older shells only, spelled as they have always been.
  | 'Resources' | 'AppData' | 'StatrupMenu' | 'Statrup' | 'CommonAppData' | 'CommonFavorites'
  | 'CommonStatrupMenu' | 'CommonStatrup' | 'CommonVideo';

/**
 * One system event as the watch callback receives it: (type, state). On
 * Linux, "display", "power", "away", "???" and ("system", "logoff") never
 * come, nor does a state "???".
 */
export type SystemEvent =
  | ['session', 'lock' | 'unlock' | '???']
  | ['lidswitch', 'close' | 'open' | '???']
  | ['display', 'off' | 'on' | 'dimmed' | '???']
  | ['power', 'off' | 'on' | '???']
  | ['user', 'present' | 'inactive' | '???']
  | ['away', 'exit' | 'enter' | '???']
  | ['network', 'on' | 'off']
  | ['???', '???']
  // Only with the watch option power.
  | ['system', 'suspend' | 'resume' | 'shutdown' | 'logoff']
  | ['powersource', 'ac' | 'battery' | 'ups' | '???']
  | ['battery', `${number}`];

/** The second argument of watch. */
export interface WatchOptions {
  /**
   * true: also sleep and wake, the end of the session, the power source and
   * the battery level (the current two first).
   */
  power?: boolean;
}

/** Called on the script thread with the receiver null, once per event. */
export type WatchCallback = (this: null, ...event: SystemEvent) => void;

/**
 * Milliseconds since the last keyboard or mouse input; -1 when it cannot be
 * read (on Linux: no X display or screen-saver extension, and on GNOME
 * Wayland no idle monitor either).
 */
export function getUserIdleTime(): number;

/** The folder's full path; "" for an unknown name or a folder that cannot be told. */
export function getKnownDirectory(name: KnownDirectoryName): string;

/**
 * The processes whose executable has the same file name as process pid
 * (default: this process), in the system's order (Linux: ascending pid);
 * [] when pid names no process.
 */
export function getProcessesOfSameExeFile(pid?: number): Array<{ pid: number; ppid: number }>;

/**
 * The client's render window handle (low 32 bits, signed); on Linux, the X
 * window id of the browser window. 0 when not found.
 */
export function findChromeWindow(): number;

/**
 * The key's state, 0 to 65535: bit 15 while down (65408 or more), bit 0 while
 * toggled on (on Linux, Caps Lock's only); 0 on Linux without an X display.
 */
export function getKeyState(name: KeyName): number;

/**
 * Sends a chord such as 'Ctrl+Shift+A': presses in order, releases in reverse.
 * 'down' sends only the presses, 'up' only the releases. A one-character
 * token is taken as a virtual-key code ('A' is 65, 'a' is 97). On Linux, as
 * X test events, skipping a key that the keymap lacks.
 */
export function simulateKeys(keys: string, mode?: 'down' | 'up'): void;

/**
 * Linux: shows a count on the launcher entry (the Unity launcher API) for a
 * text of decimal digits alone, of value 1 to 2^63 - 1, and clears it for any
 * other text. Does nothing on Windows.
 */
export function setBadge(text?: unknown): void;

/**
 * Delivers system events to callback (replacing an earlier one, and its
 * options): 0 watching, 1 already watching (callback replaced), -3 a system
 * thread failed to start, or the runtime gave no event loop or async context
 * (nothing is then watched).
 */
export function watch(callback: WatchCallback, options?: WatchOptions): 0 | 1 | -3;

/** Stops delivery and drops pending events; false when nothing was watched. */
export function unwatch(): boolean;
