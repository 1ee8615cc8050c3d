// Sends the fixed list of requests to a stand-in that records them (zntv-simulator --record).
'use strict';
const path = require('path');
const api = require(path.join(process.argv[2], 'node_modules', 'node-simconnect'));
const sendCalls = require('./calls.js');
const port = parseInt(process.argv[3], 10);

const timer = setTimeout(() => { console.error('record_calls: no open message'); process.exit(1); }, 10000);
api.open('ZNTV_P3D', api.Protocol.KittyHawk, { host: '127.0.0.1', port })
  .then(({ handle }) => {
    sendCalls(handle, api);
    setTimeout(() => { clearTimeout(timer); handle.close(); process.exit(0); }, 300);
  })
  .catch(e => { console.error('record_calls:', e.message); process.exit(1); });
