// Compares the requests of node-simconnect (recorded by the stand-in) with ours, one hex line each.
// The protocol word differs by protocol, the open's version words too, and node-simconnect counts send
// ids from 0 where we count from 1: those bytes are compared apart.
'use strict';
const fs = require('fs');
const read = f => fs.readFileSync(f, 'utf8').split('\n').filter(l => l.length > 0).map(l => Buffer.from(l, 'hex'));
const node = read(process.argv[2]), ours = read(process.argv[3]);
let bad = 0;
if (node.length !== ours.length) { console.error(`compare: ${node.length} node requests, ${ours.length} ours`); bad++; }
for (let i = 0; i < Math.min(node.length, ours.length); i++) {
  const a = node[i], b = ours[i];
  const id = b.length >= 12 ? (b.readUInt32LE(8) & 0xfffffff).toString(16) : '?';
  if (a.length !== b.length) { console.error(`request ${i} (0x${id}): size ${a.length} vs ${b.length}`); bad++; continue; }
  const skip = new Set([4, 5, 6, 7, 12, 13, 14, 15]);
  if (id === '1') for (let k = 276; k < 296; k++) skip.add(k);
  for (let k = 0; k < a.length; k++) {
    if (!skip.has(k) && a[k] !== b[k]) {
      console.error(`request ${i} (0x${id}): byte ${k} node ${a[k]} ours ${b[k]}`);
      bad++;
      break;
    }
  }
  if (b.readUInt32LE(12) !== a.readUInt32LE(12) + 1) { console.error(`request ${i}: send ids ${a.readUInt32LE(12)} vs ${b.readUInt32LE(12)}`); bad++; }
}
if (bad) { console.error(`compare: ${bad} difference(s)`); process.exit(1); }
console.log(`compare: ${ours.length} requests equal`);
