'use strict';
// getKnownDirectory on Linux: the user folders against xdg-user-dir, run with
// the same environment, and the XDG base directories. Each case sets the
// variables it needs in this process's environment, which the addon reads at
// every call, and puts them back afterwards. None of the folders exists:
// neither the addon nor xdg-user-dir looks.
const assert = require('assert');
const childProcess = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { test, paths } = require('./harness');
const addon = require(paths.addon);

// The known-folder names of the user folders and xdg-user-dir's names for them.
const USER_FOLDERS = [
  ['Desktop', 'DESKTOP'], ['Documents', 'DOCUMENTS'], ['Downloads', 'DOWNLOAD'], ['Music', 'MUSIC'],
  ['Pictures', 'PICTURES'], ['Video', 'VIDEOS'], ['Templates', 'TEMPLATES'], ['Public', 'PUBLICSHARE'],
];
const XDG_VARIABLES = ['HOME', 'XDG_CONFIG_HOME', 'XDG_DATA_HOME']
  .concat(USER_FOLDERS.map(([, name]) => `XDG_${name}_DIR`));

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'folders-'));
const home = path.join(work, 'h\u00f6me \u2603');
// xdg-user-dir expands the configuration home unquoted: a blank in it would
// split the file's path there.
const config = path.join(work, 'conf\u684c\u9762');
fs.mkdirSync(config);
fs.writeFileSync(path.join(config, 'user-dirs.dirs'), [
  '# This file is written by xdg-user-dirs-update',
  'XDG_DESKTOP_DIR="$HOME/Schreibtisch \ud83d\ude00"',
  'XDG_DOCUMENTS_DIR="/srv/Dokumente \u684c\u9762"',
  'XDG_DOWNLOAD_DIR="$HOME/T\u00e9l\u00e9chargements"',
  'XDG_MUSIC_DIR="$HOME"',
  'XDG_PICTURES_DIR=/abs/Bilder',
  '',
].join('\n'));

// Runs fn with the XDG variables set as given (and the others unset), then
// puts the environment back.
function withEnvironment(values, fn) {
  const saved = XDG_VARIABLES.map((name) => [name, process.env[name]]);
  try {
    for (const name of XDG_VARIABLES) delete process.env[name];
    Object.assign(process.env, values);
    fn();
  } finally {
    for (const [name, value] of saved) {
      if (value === undefined) delete process.env[name];
      else process.env[name] = value;
    }
  }
}

// What xdg-user-dir answers for name in this process's environment.
function xdgUserDir(name) {
  const result = childProcess.spawnSync('xdg-user-dir', [name], { encoding: 'utf8', timeout: 30000 });
  assert.strictEqual(result.status, 0, result.stderr);
  return result.stdout.replace(/\n$/, '');
}

test('user folders are what xdg-user-dir answers: the file, then the environment, then the defaults', () => {
  withEnvironment({ HOME: home, XDG_CONFIG_HOME: config, XDG_VIDEOS_DIR: '/env/V\u00eddeos' }, () => {
    for (const [known, name] of USER_FOLDERS) {
      const expected = xdgUserDir(name);
      assert.strictEqual(addon.getKnownDirectory(known), expected, known);
      assert.strictEqual(Buffer.from(addon.getKnownDirectory(known)).toString('hex'),
                         Buffer.from(expected).toString('hex'), known);
    }
    // The comparison is not between defaults alone.
    assert.strictEqual(addon.getKnownDirectory('Desktop'), `${home}/Schreibtisch \ud83d\ude00`);
    assert.strictEqual(addon.getKnownDirectory('Documents'), '/srv/Dokumente \u684c\u9762');
    assert.strictEqual(addon.getKnownDirectory('Video'), '/env/V\u00eddeos');
    assert.strictEqual(addon.getKnownDirectory('Public'), home);
  });
});

test('a relative value is ignored: the answer is the one xdg-user-dir gives without it', () => {
  const relativeConfig = path.join(work, 'relative');
  fs.mkdirSync(relativeConfig);
  fs.writeFileSync(path.join(relativeConfig, 'user-dirs.dirs'),
                   'XDG_DESKTOP_DIR="/abs/first"\nXDG_DESKTOP_DIR="later/relative"\nXDG_MUSIC_DIR="music"\n');
  const relative = { HOME: home, XDG_CONFIG_HOME: relativeConfig, XDG_MUSIC_DIR: 'env/music', XDG_PICTURES_DIR: 'pics' };
  withEnvironment(relative, () => {
    assert.strictEqual(xdgUserDir('DESKTOP'), 'later/relative');
    assert.strictEqual(addon.getKnownDirectory('Desktop'), '/abs/first');
    assert.strictEqual(addon.getKnownDirectory('Music'), home);
    assert.strictEqual(addon.getKnownDirectory('Pictures'), home);
  });
  withEnvironment({ HOME: home }, () => {
    assert.strictEqual(addon.getKnownDirectory('Music'), xdgUserDir('MUSIC'));
  });
  // A relative configuration home means ~/.config, where there is no file.
  withEnvironment({ HOME: home, XDG_CONFIG_HOME: 'conf', XDG_DATA_HOME: 'data' }, () => {
    assert.strictEqual(addon.getKnownDirectory('RoamingAppData'), `${home}/.config`);
    assert.strictEqual(addon.getKnownDirectory('LocalAppData'), `${home}/.local/share`);
    assert.strictEqual(addon.getKnownDirectory('Desktop'), `${home}/Desktop`);
  });
});

test('base directories: the configuration and data homes, their defaults, and the fixed folders', () => {
  const fixed = {
    CommonStartup: '/etc/xdg/autostart', CommonPrograms: '/usr/share/applications',
    CommonStartMenu: '/usr/share/applications', Fonts: '/usr/share/fonts',
  };
  withEnvironment({ HOME: home, XDG_CONFIG_HOME: config, XDG_DATA_HOME: '/d/\u00e9' }, () => {
    assert.deepStrictEqual(['Profile', 'Home', 'RoamingAppData', 'Startup', 'LocalAppData', 'Programs',
                            'StartMenu'].map((name) => addon.getKnownDirectory(name)),
                           [home, home, config, `${config}/autostart`, '/d/\u00e9', '/d/\u00e9/applications',
                            '/d/\u00e9/applications']);
    for (const [name, folder] of Object.entries(fixed)) assert.strictEqual(addon.getKnownDirectory(name), folder);
  });
  withEnvironment({ HOME: home }, () => {
    assert.deepStrictEqual(['RoamingAppData', 'Startup', 'LocalAppData', 'Programs']
      .map((name) => addon.getKnownDirectory(name)),
                           [`${home}/.config`, `${home}/.config/autostart`, `${home}/.local/share`,
                            `${home}/.local/share/applications`]);
  });
});

test('$HOME unset or empty: the password database\'s home, also for $HOME in user-dirs.dirs', () => {
  const passwdHome = os.userInfo().homedir;
  for (const values of [{ XDG_CONFIG_HOME: config }, { HOME: '', XDG_CONFIG_HOME: config }]) {
    withEnvironment(values, () => {
      assert.strictEqual(addon.getKnownDirectory('Home'), passwdHome);
      assert.strictEqual(addon.getKnownDirectory('Desktop'), `${passwdHome}/Schreibtisch \ud83d\ude00`);
      assert.strictEqual(addon.getKnownDirectory('Public'), passwdHome);
    });
  }
});

test('every other name gives "": the Windows XP vocabulary, Windows-only folders, other cases', () => {
  withEnvironment({ HOME: home, XDG_CONFIG_HOME: config }, () => {
    for (const name of ['AppData', 'Statrup', 'StatrupMenu', 'CommonStatrup', 'Windows', 'System',
                        'ProgramFiles', 'Recent', 'Cookies', 'Favorites', 'LocalAppDataLow', 'PublicDesktop',
                        'CommonDesktop', 'CommonTemplates', 'desktop', 'DESKTOP', 'Desktop ', 'home', '',
                        'undefined', '\u684c\u9762']) {
      assert.strictEqual(addon.getKnownDirectory(name), '', name);
    }
    assert.strictEqual(addon.getKnownDirectory(), '');
  });
});
