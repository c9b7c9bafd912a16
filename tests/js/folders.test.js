'use strict';
// getKnownDirectory, through the known-folder interface as wine's shell
// offers it, and through the special-folder interface as a shell without
// SHGetKnownFolderPath serves it (velmora_no_SHGetKnownFolderPath: the same
// sources, with every lookup of that entry point failing). velmora_direct
// asks the shell itself, from native code, by the SDK's own identifiers.
const assert = require('assert');
const childProcess = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { test, paths, runLogged } = require('./harness');
const addon = require(paths.addon);
const testAddon = (name) => require(path.win32.join(paths.testAddons, `${name}.node`));
const withoutKnownFolders = testAddon('velmora_no_SHGetKnownFolderPath');
const tables = testAddon('velmora_tables');
const direct = testAddon('velmora_direct');

// The known-folder names and the SDK identifiers of their folders, in table order.
const KNOWN_FOLDERS = [
  ['Windows', 'Windows'], ['System', 'System'], ['SystemX86', 'SystemX86'],
  ['Resource', 'ResourceDir'], ['Fonts', 'Fonts'], ['ProgramFiles', 'ProgramFiles'],
  ['ProgramFilesX64', 'ProgramFilesX64'], ['ProgramFilesX86', 'ProgramFilesX86'],
  ['CommonProgramFiles', 'ProgramFilesCommon'], ['CommonProgramFilesX64', 'ProgramFilesCommonX64'],
  ['CommonProgramFilesX86', 'ProgramFilesCommonX86'], ['Profile', 'Profile'], ['Home', 'Profile'],
  ['Recent', 'Recent'], ['StartMenu', 'StartMenu'], ['Startup', 'Startup'],
  ['Templates', 'Templates'], ['LocalAppData', 'LocalAppData'],
  ['LocalAppDataLow', 'LocalAppDataLow'], ['RoamingAppData', 'RoamingAppData'],
  ['Contacts', 'Contacts'], ['Cookies', 'Cookies'], ['Desktop', 'Desktop'],
  ['Documents', 'Documents'], ['Downloads', 'Downloads'], ['Favorites', 'Favorites'],
  ['Libraries', 'Libraries'], ['Links', 'Links'], ['Music', 'Music'], ['Pictures', 'Pictures'],
  ['Video', 'Videos'], ['Programs', 'Programs'], ['AccountPictures', 'AccountPictures'],
  ['Public', 'Public'], ['PublicDesktop', 'PublicDesktop'], ['PublicDocuments', 'PublicDocuments'],
  ['PublicDownloads', 'PublicDownloads'], ['PublicLibrary', 'PublicLibraries'],
  ['PublicMusic', 'PublicMusic'], ['PublicPictures', 'PublicPictures'],
  ['PublicVideos', 'PublicVideos'], ['CommonDesktop', 'PublicDesktop'],
  ['CommonDocuments', 'PublicDocuments'], ['CommonDownloads', 'PublicDownloads'],
  ['CommonLibrary', 'PublicLibraries'], ['CommonMusic', 'PublicMusic'],
  ['CommonPictures', 'PublicPictures'], ['CommonVideos', 'PublicVideos'],
  ['CommonPrograms', 'CommonPrograms'], ['CommonStartMenu', 'CommonStartMenu'],
  ['CommonStartup', 'CommonStartup'], ['CommonTemplates', 'CommonTemplates'],
].map(([name, folder]) => [name, `FOLDERID_${folder}`]);

// The special-folder names and their CSIDL values, in table order, misspellings
// and repeated rows included.
const SPECIAL_FOLDERS = [
  ['Windows', 0x24], ['System', 0x25], ['Resources', 0x38], ['Fonts', 0x14],
  ['ProgramFiles', 0x26], ['ProgramFilesX86', 0x2A], ['Profile', 0x28], ['Home', 0x28],
  ['Cookies', 0x21], ['Recent', 0x08], ['AppData', 0x1A], ['Desktop', 0x10],
  ['Documents', 0x05], ['Favorites', 0x06], ['Music', 0x0D], ['Pictures', 0x27],
  ['Programs', 0x02], ['StatrupMenu', 0x0B], ['Statrup', 0x07], ['Templates', 0x15],
  ['Video', 0x0E], ['Statrup', 0x07], ['CommonAppData', 0x23], ['CommonDesktop', 0x19],
  ['CommonDocuments', 0x2E], ['CommonFavorites', 0x1F], ['CommonMusic', 0x35],
  ['CommonPictures', 0x36], ['CommonPrograms', 0x17], ['CommonStatrupMenu', 0x16],
  ['CommonStatrup', 0x18], ['CommonTemplates', 0x2D], ['CommonVideo', 0x37],
  ['CommonStatrup', 0x18],
];

const knownNames = new Set(KNOWN_FOLDERS.map(([name]) => name));
const specialNames = new Set(SPECIAL_FOLDERS.map(([name]) => name));
const onlyKnown = [...knownNames].filter((name) => !specialNames.has(name));
const onlySpecial = [...specialNames].filter((name) => !knownNames.has(name));

test('the known-folder table holds exactly the 52 names, each with the SDK\'s GUID', () => {
  const expected = KNOWN_FOLDERS.map(([name, folder]) => [name, direct.knownFolderId(folder)]);
  assert.ok(expected.every(([, guid]) => /^\{[0-9A-F-]{36}\}$/.test(guid)));
  assert.deepStrictEqual(tables.knownFolderTable(), expected);
});

test('the special-folder table holds exactly the 34 rows, misspellings and repeats included', () => {
  assert.deepStrictEqual(tables.csidlTable(), SPECIAL_FOLDERS);
  assert.deepStrictEqual(onlySpecial.sort(), ['AppData', 'CommonAppData', 'CommonFavorites',
    'CommonStatrup', 'CommonStatrupMenu', 'CommonVideo', 'Resources', 'Statrup', 'StatrupMenu']);
});

test('every known-folder name gives what the shell gives for its folder, "" when it has none', () => {
  for (const [name, folder] of KNOWN_FOLDERS) {
    assert.strictEqual(addon.getKnownDirectory(name), direct.knownFolderPath(folder), name);
  }
  // Wine resolves most of them: the comparison above is not between blanks.
  const resolved = KNOWN_FOLDERS.filter(([name]) => addon.getKnownDirectory(name) !== '');
  assert.ok(resolved.length >= 40, `${resolved.length} resolved`);
});

test('Home is Profile, and each Common name is its Public one', () => {
  assert.notStrictEqual(addon.getKnownDirectory('Profile'), '');
  assert.strictEqual(addon.getKnownDirectory('Home'), addon.getKnownDirectory('Profile'));
  for (const suffix of ['Desktop', 'Documents', 'Downloads', 'Library', 'Music', 'Pictures', 'Videos']) {
    assert.strictEqual(addon.getKnownDirectory(`Common${suffix}`), addon.getKnownDirectory(`Public${suffix}`),
                       suffix);
  }
  assert.notStrictEqual(addon.getKnownDirectory('CommonDesktop'), '');
});

test('names of the special-folder table alone, other cases and unknown names give ""', () => {
  for (const name of onlySpecial.concat(['desktop', 'DESKTOP', 'Desktop ', ' Desktop', 'Desktop\\',
                                         'Desk', '', 'undefined', 'Statrup\u00e9', '\u684c\u9762'])) {
    assert.strictEqual(addon.getKnownDirectory(name), '', name);
  }
  assert.strictEqual(addon.getKnownDirectory(), '');
  for (const name of ['RoamingAppData', 'CommonVideos', 'Resource', 'StartMenu', 'Desktop']) {
    assert.notStrictEqual(addon.getKnownDirectory(name), '', name);
  }
});

test('a folder whose path is not ASCII comes back as its exact UTF-8', () => {
  // The desktop is redirected in the prefix's registry for the length of the
  // case; wine resolves it only once the folder exists.
  const key = 'HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders';
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'folders-'));
  const saved = path.join(work, 'saved.reg');
  const desktop = path.join(work, 'B\u00fcr\u00f6 \u2603 \u684c\u9762 \ud83d\ude00 \u00a0end');
  const reg = (...args) => {
    const result = childProcess.spawnSync('reg.exe', args, { encoding: 'latin1', timeout: 60000 });
    assert.strictEqual(result.status, 0, `reg ${args.join(' ')}: ${result.stdout}${result.stderr}`);
  };
  reg('export', key, saved, '/y');
  try {
    fs.mkdirSync(desktop);
    reg('add', key, '/v', 'Desktop', '/t', 'REG_EXPAND_SZ', '/d', desktop, '/f');
    assert.strictEqual(addon.getKnownDirectory('Desktop'), desktop);
    assert.strictEqual(withoutKnownFolders.getKnownDirectory('Desktop'), desktop);
    assert.strictEqual(Buffer.from(addon.getKnownDirectory('Desktop'), 'utf8').toString('hex'),
                       Buffer.from(desktop, 'utf8').toString('hex'));
  } finally {
    reg('import', saved);
    fs.rmdirSync(desktop);
    fs.unlinkSync(saved);
    fs.rmdirSync(work);
  }
  assert.strictEqual(addon.getKnownDirectory('Desktop'), direct.knownFolderPath('FOLDERID_Desktop'));
  assert.notStrictEqual(addon.getKnownDirectory('Desktop'), desktop);
});

test('without SHGetKnownFolderPath, the special-folder table serves, as the shell resolves it', () => {
  for (const [name, csidl] of SPECIAL_FOLDERS) {
    assert.strictEqual(withoutKnownFolders.getKnownDirectory(name), direct.specialFolderPath(csidl), name);
  }
  for (const name of ['AppData', 'StatrupMenu', 'Statrup', 'CommonStatrupMenu', 'CommonStatrup']) {
    assert.notStrictEqual(withoutKnownFolders.getKnownDirectory(name), '', name);
  }
  for (const name of onlyKnown.concat(['desktop', '', 'undefined'])) {
    assert.strictEqual(withoutKnownFolders.getKnownDirectory(name), '', name);
  }
  assert.strictEqual(withoutKnownFolders.getKnownDirectory(), '');
  // Either interface finds the same desktop: the file-system folder, not the shell's root.
  assert.strictEqual(withoutKnownFolders.getKnownDirectory('Desktop'), addon.getKnownDirectory('Desktop'));
  assert.strictEqual(withoutKnownFolders.getKnownDirectory('Home'),
                     withoutKnownFolders.getKnownDirectory('Profile'));
});

test('without SHGetFolderPathW, the first call ends the process with a fatal assertion', () => {
  const broken = path.win32.join(paths.testAddons, 'velmora_no_SHGetFolderPathW.node');
  const script = `const a = require(${JSON.stringify(broken)}); console.log('loaded');
                  a.getKnownDirectory('Desktop'); console.log('returned');`;
  const { status, output } = runLogged(paths.nodeExe, ['-e', script]);
  assert.strictEqual(status, 3, output);  // abort()
  assert.ok(/^loaded\r?\nAssertion failed: s_SHGetFolderPathW != NULL, file \S*sys_win\.cc, line \d+\r?\n$/
    .test(output), output);
});
