'use strict';
// The addon as node-gyp (or nw-gyp) builds it when the package is installed.
module.exports = require('./build/Release/velmora_node_sys.node');
