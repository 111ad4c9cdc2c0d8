/* What C code compiled against the installed header sees. */
#include "vorne/ptz_plugin.h"

size_t ConsumerCEntryTableSize(void) { return sizeof(PluginEntryTable); }

int ConsumerCIsPtzControl(const GUID* iid) { return IsEqualGUID(iid, &IID_IPtzControl); }
