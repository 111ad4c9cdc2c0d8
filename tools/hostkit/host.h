// The host kit in one include: load the module by path (with the loader's
// reason on failure), a host object with a log sink, and the formatting of
// the module's UTF-16 log lines.
#ifndef VORNE_HOSTKIT_HOST_H
#define VORNE_HOSTKIT_HOST_H

#include "hostkit/host_object.h"
#include "hostkit/log_format.h"
#include "hostkit/module_loader.h"

#endif
