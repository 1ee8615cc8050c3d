#include "run/entry.h"

int main() { return gf_programEntry(); }
