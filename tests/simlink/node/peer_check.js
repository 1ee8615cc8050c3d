// node-simconnect against the stand-in: open, map an event, define data, create an AI aircraft, set its
// data, read it back and remove it, with the answers a simulator gives.
'use strict';
const path = require('path');
const api = require(path.join(process.argv[2], 'node_modules', 'node-simconnect'));
const port = parseInt(process.argv[3], 10);
const { InitPosition, RawBuffer, SimConnectDataType, SimConnectPeriod } = api;

const EV_ADDED = 1, EV_REMOVED = 2, EV_GEAR = 10, DEF = 7, REQ_CREATE = 20, REQ_DATA = 21, REQ_REMOVE = 22;
const steps = [];
function fail(why) { console.error('peer_check: FAIL:', why, '| steps:', steps.join(', ')); process.exit(1); }
const timer = setTimeout(() => fail('timed out'), 15000);

api.open('node peer', api.Protocol.KittyHawk, { host: '127.0.0.1', port })
  .then(({ recvOpen, handle }) => {
    if (!/Prepar3D/.test(recvOpen.applicationName)) fail('open name ' + recvOpen.applicationName);
    if (recvOpen.applicationVersionMajor !== 5) fail('open version ' + recvOpen.applicationVersionMajor);
    steps.push('open');
    let objectId = 0;
    handle.on('exception', e => fail('exception ' + e.exception + ' for send id ' + e.sendId));
    handle.on('eventAddRemove', ev => {
      if (ev.clientEventId === EV_ADDED && objectId === 0) {
        if (ev.type !== 2) fail('added object type ' + ev.type);
        objectId = ev.data;
        steps.push('added ' + objectId);
        const buf = new RawBuffer(16);
        buf.writeFloat64(46.75);
        buf.writeFloat64(7.25);
        handle.setDataOnSimObject(DEF, objectId, { tagged: false, arrayCount: 0, buffer: buf });
        handle.requestDataOnSimObject(REQ_DATA, DEF, objectId, SimConnectPeriod.ONCE, 0, 0, 0, 0);
      } else if (ev.clientEventId === EV_REMOVED && ev.data === objectId) {
        steps.push('removed');
        clearTimeout(timer);
        handle.close();
        console.log('peer_check: OK (' + steps.join(', ') + ')');
        process.exit(0);
      }
    });
    handle.on('simObjectData', d => {
      if (d.requestID !== REQ_DATA) return;
      const lat = d.data.readFloat64(), lon = d.data.readFloat64();
      if (lat !== 46.75 || lon !== 7.25) fail('data read back ' + lat + ',' + lon);
      steps.push('data');
      handle.aIRemoveObject(objectId, REQ_REMOVE);
    });
    handle.subscribeToSystemEvent(EV_ADDED, 'ObjectAdded');
    handle.subscribeToSystemEvent(EV_REMOVED, 'ObjectRemoved');
    handle.mapClientEventToSimEvent(EV_GEAR, 'GEAR_SET');
    handle.addToDataDefinition(DEF, 'Plane Latitude', 'degree', SimConnectDataType.FLOAT64);
    handle.addToDataDefinition(DEF, 'Plane Longitude', 'degree', SimConnectDataType.FLOAT64);
    const pos = new InitPosition();
    pos.latitude = 47.46;
    pos.longitude = 8.55;
    pos.altitude = 1416;
    pos.onGround = true;
    handle.aICreateNonATCAircraft('Node Peer Aircraft', 'NODE1', pos, REQ_CREATE);
  })
  .catch(e => fail(e.message));
