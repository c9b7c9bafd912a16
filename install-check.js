'use strict';
// Run at install time by node-gyp-build in place of loading the addon. The
// node that runs npm is seldom the runtime that loads the addon (NW.js brings
// its own), so the package's prebuilt binaries are enough, whatever their
// module versions: only a package without them is built from source.
const fs = require('fs');
const path = require('path');

const prebuilds = path.join(__dirname, 'prebuilds', 'win32-x64');
if (!fs.existsSync(prebuilds) || !fs.readdirSync(prebuilds).some((file) => file.endsWith('.node'))) {
  throw new Error('velmora_node_sys has no prebuilt binaries: building it from source');
}
