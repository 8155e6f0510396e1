#pragma once
// The spooler records that the monitor's port code uses, 32-bit layout (native build).

#include <windows.h>

struct PORT_INFO_1W {
    LPWSTR pName;
};
struct PORT_INFO_2W {
    LPWSTR pPortName;
    LPWSTR pMonitorName;
    LPWSTR pDescription;
    DWORD fPortType;
    DWORD Reserved;
};
struct PORT_INFO_3W {
    DWORD dwStatus;
    LPWSTR pszStatus;
    DWORD dwSeverity;
};
// Only kept behind a pointer by the port record; its members as the SDK lays them out.
struct PRINTER_INFO_2W {
    LPWSTR pServerName;
    LPWSTR pPrinterName;
    LPWSTR pShareName;
    LPWSTR pPortName;
    LPWSTR pDriverName;
    LPWSTR pComment;
    LPWSTR pLocation;
    void* pDevMode;
    LPWSTR pSepFile;
    LPWSTR pPrintProcessor;
    LPWSTR pDatatype;
    LPWSTR pParameters;
    void* pSecurityDescriptor;
    DWORD Attributes;
    DWORD Priority;
    DWORD DefaultPriority;
    DWORD StartTime;
    DWORD UntilTime;
    DWORD Status;
    DWORD cJobs;
    DWORD AveragePPM;
};
static_assert(sizeof(PORT_INFO_1W) == 4, "PORT_INFO_1W");
static_assert(sizeof(PORT_INFO_2W) == 20, "PORT_INFO_2W");
static_assert(sizeof(PORT_INFO_3W) == 12, "PORT_INFO_3W");
static_assert(sizeof(PRINTER_INFO_2W) == 84, "PRINTER_INFO_2W");

#define PORT_TYPE_WRITE 0x0001
#define PORT_STATUS_TYPE_ERROR 1
#define PORT_STATUS_OFFLINE 1
#define PORT_STATUS_PAPER_OUT 3
#define PRINTER_STATUS_ERROR 0x00000002
#define PRINTER_STATUS_PAPER_OUT 0x00000010
#define PRINTER_STATUS_OFFLINE 0x00000080
#define PRINTER_STATUS_USER_INTERVENTION 0x00100000
