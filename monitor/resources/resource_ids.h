#pragma once

// String table of PRNLINK.DLL: the monitor name and port description of PORT_INFO_2.
#define IDS_MONITOR_NAME 1
#define IDS_PORT_DESCRIPTION 2
