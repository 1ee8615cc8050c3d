// The fixed list of requests that both clients send for the byte comparison, after their open.
// Kept in step with tools/request_bytes.cpp.
'use strict';

module.exports = function sendCalls(h, api) {
  const { InitPosition, RawBuffer, SimConnectDataType } = api;
  h.mapClientEventToSimEvent(220, 'GEAR_SET');
  h.transmitClientEvent(0, 220, 1, 301, 0);
  h.addClientEventToNotificationGroup(301, 220, true);
  h.setNotificationGroupPriority(301, 1);
  h.addToDataDefinition(402, 'Plane Latitude', 'degree', SimConnectDataType.FLOAT64, 0, 0xffffffff);
  h.addToDataDefinition(404, 'ATC ID', null, SimConnectDataType.STRING32, 0, 0xffffffff);
  h.requestDataOnSimObject(109, 403, 0, 1, 0, 0, 0, 0);
  h.requestDataOnSimObjectType(101, 404, 20000, 2);
  const buf = new RawBuffer(8);
  buf.writeFloat64(47.25);
  h.setDataOnSimObject(402, 1, { tagged: false, arrayCount: 0, buffer: buf });
  h.subscribeToSystemEvent(201, 'Sim');
  const pos = new InitPosition();
  pos.latitude = 47.5;
  pos.longitude = 8.5;
  pos.altitude = 1400;
  pos.pitch = -1.5;
  pos.bank = 0.25;
  pos.heading = 271;
  pos.onGround = true;
  pos.airspeed = 0;
  h.aICreateNonATCAircraft('Boeing 737-800 Zentavo', 'ZN123', pos, 104);
  h.aIReleaseControl(100, 103);
  h.aIRemoveObject(100, 105);
  h.aISetAircraftFlightPlan(100, 'C:\\plans\\ZN123.pln', 110);
  return 15; // requests including the open
};
