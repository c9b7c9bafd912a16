'use strict';
// Run at install time by node-gyp-build in place of loading the addon. The
// node that runs npm is seldom the runtime that loads the addon (NW.js brings
// its own), so the package's prebuilt binaries are enough, whatever they were
// built for: only a package without them is built from source.
const fs = require('fs');
const path = require('path');

const prebuilds = ['win32-x64', 'win32-ia32', 'linux-x64'].map((dir) => path.join(__dirname, 'prebuilds', dir));
if (!prebuilds.some((dir) => fs.existsSync(dir) && fs.readdirSync(dir).some((file) => file.endsWith('.node')))) {
  throw new Error('velmora_node_sys has no prebuilt binaries: building it from source');
}
