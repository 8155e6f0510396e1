#pragma once
// A MONITORREG table over the 8-bit registry functions, installed into the MONITORINIT on
// every system but Windows 2000 and always by the legacy entry.

#include "entry/monitor.h"

// A fresh zero-filled table from the global heap, never freed; null when memory is short.
MONITORREG* CreateRegistryShim();
