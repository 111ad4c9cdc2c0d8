// The C++ half of host_includes.c.
#include "host_includes.c"
