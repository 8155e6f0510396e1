#pragma once
// The spooler records that the monitor's port code uses (native build), laid out as on
// 64-bit Windows in a -m64 build and as on 32-bit Windows in a -m32 build.

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
// As mingw-w64's headers lay them out for each architecture.
#ifdef __x86_64__
static_assert(sizeof(PORT_INFO_1W) == 8, "PORT_INFO_1W is 8 bytes on x64");
static_assert(sizeof(PORT_INFO_2W) == 32, "PORT_INFO_2W is 32 bytes on x64");
static_assert(offsetof(PORT_INFO_2W, fPortType) == 24, "PORT_INFO_2W.fPortType on x64");
static_assert(sizeof(PORT_INFO_3W) == 24, "PORT_INFO_3W is 24 bytes on x64");
static_assert(offsetof(PORT_INFO_3W, pszStatus) == 8, "PORT_INFO_3W.pszStatus on x64");
static_assert(offsetof(PORT_INFO_3W, dwSeverity) == 16, "PORT_INFO_3W.dwSeverity on x64");
static_assert(sizeof(PRINTER_INFO_2W) == 136, "PRINTER_INFO_2W is 136 bytes on x64");
static_assert(offsetof(PRINTER_INFO_2W, Attributes) == 104, "PRINTER_INFO_2W.Attributes on x64");
#else
static_assert(sizeof(PORT_INFO_1W) == 4, "PORT_INFO_1W is 4 bytes on i686");
static_assert(sizeof(PORT_INFO_2W) == 20, "PORT_INFO_2W is 20 bytes on i686");
static_assert(offsetof(PORT_INFO_2W, fPortType) == 12, "PORT_INFO_2W.fPortType on i686");
static_assert(sizeof(PORT_INFO_3W) == 12, "PORT_INFO_3W is 12 bytes on i686");
static_assert(offsetof(PORT_INFO_3W, pszStatus) == 4, "PORT_INFO_3W.pszStatus on i686");
static_assert(offsetof(PORT_INFO_3W, dwSeverity) == 8, "PORT_INFO_3W.dwSeverity on i686");
static_assert(sizeof(PRINTER_INFO_2W) == 84, "PRINTER_INFO_2W is 84 bytes on i686");
static_assert(offsetof(PRINTER_INFO_2W, Attributes) == 52, "PRINTER_INFO_2W.Attributes on i686");
#endif

#define PORT_TYPE_WRITE 0x0001
#define PORT_STATUS_TYPE_ERROR 1
#define PORT_STATUS_OFFLINE 1
#define PORT_STATUS_PAPER_OUT 3
#define PRINTER_STATUS_ERROR 0x00000002
#define PRINTER_STATUS_PAPER_OUT 0x00000010
#define PRINTER_STATUS_OFFLINE 0x00000080
#define PRINTER_STATUS_USER_INTERVENTION 0x00100000
