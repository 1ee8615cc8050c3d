#include "frame/entry.h"

int main() { return gf_programEntry(); }
