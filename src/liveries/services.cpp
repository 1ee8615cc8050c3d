#include "liveries/services.h"

void gf_liveriesScan() {}

