'use strict';
// The addon from build/Release when node-gyp or nw-gyp has built one here,
// otherwise the prebuilt binary of the running node's or NW.js's module version.
module.exports = require('node-gyp-build')(__dirname);
