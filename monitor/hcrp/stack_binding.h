#pragma once
// The one process-wide holder of the vendor Bluetooth library QORLIB.DLL, loaded at run
// time once the vendor's stack process Tarnwick.exe is found running.

#include <windows.h>

#include "hcrp/qorlib_abi.h"

class StackBinding {
  public:
    StackBinding();
    virtual ~StackBinding();

    int LoadQORLIB();
    int Unload();
    int GetDLLPathName();
    static int IsProcessRunning(const char* name);

    HMODULE module;
    char libraryPath[260];
    QorlRegisterFn qorlRegister;
    QorlUnregisterFn qorlUnregister;
    QorlConnectFn qorlConnect;
    QorlDisconnectFn qorlDisconnect;
    QorlSendDataFn qorlSendData;
};

// Constructed when the monitor library is loaded, destroyed when it is unloaded.
extern StackBinding g_stackBinding;
