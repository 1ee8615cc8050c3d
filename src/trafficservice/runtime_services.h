// Everything the run-time calls of the traffic service, in one include: the credential, the two clients
// with their login, request box and hand-overs, and the reader threads with the connection indicators.
#pragma once

#include "trafficservice/clients.h"
#include "trafficservice/credential.h"
#include "trafficservice/readers.h"
