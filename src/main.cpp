#include "frame/run/entry.h"

int main() { return gf_programEntry(); }
