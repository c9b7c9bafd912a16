'use strict';
// The addon from build/Release when node-gyp or nw-gyp has built one here,
// otherwise the prebuilt binary that node-gyp-build picks by its file name:
// node 9 on x64 takes the one built for its V8, every other runtime (NW.js's
// of any version among them, and node 9 on ia32) the Node-API one of its
// platform and architecture.
module.exports = require('node-gyp-build')(__dirname);
