#pragma once
// The one process-wide holder of the vendor Bluetooth library QORLIB.DLL, loaded at run
// time once the vendor's stack process Tarnwick.exe is found running.

#include <windows.h>
#include <tlhelp32.h>

#include <cstdint>

#include "hcrp/qorlib_abi.h"

class StackBinding {
  public:
    StackBinding();
    virtual ~StackBinding();

    int LoadQORLIB();
    int Unload();

    // Who needs the library to stay loaded: every connection from its Connect to its
    // Disconnect. Acquire binds the library (LoadQORLIB) and counts one holder; it returns a
    // token for Release, 0 when the library cannot be bound. A token belongs to one load of
    // the library: after an Unload and a new load, tokens of the old load release nothing.
    uint32_t Acquire();
    void Release(uint32_t token);
    // Unloads the library only when nobody holds it, so that no thread is left inside it and
    // no open channel loses it.
    int UnloadIfUnused();
    int GetDLLPathName();
    static int IsProcessRunning(const char* name);

    // The library's operations, the only way the connection code reaches it. Each answers
    // QORL_NOT_BOUND when the library is not bound (another port's end of document can unload
    // it while a connection still counts as open).
    static constexpr int QORL_NOT_BOUND = -1;
    bool IsBound() const { return module != nullptr; }
    int Register(ChannelDescriptor* descriptor);
    int Connect(ChannelDescriptor* descriptor, uint16_t psm, const uint8_t* deviceAddress);
    int Disconnect(uint16_t handle);
    int SendData(uint16_t handle, const void* data, uint16_t length);

    // The binding itself: set by LoadQORLIB, cleared by Unload. Read by nothing outside this
    // class but the tests, which bind a library of their own.

    HMODULE module;
    char libraryPath[260];
    QorlRegisterFn qorlRegister;
    QorlUnregisterFn qorlUnregister;
    QorlConnectFn qorlConnect;
    QorlDisconnectFn qorlDisconnect;
    QorlSendDataFn qorlSendData;

  private:
    int UnloadHeld();

    uint32_t holders;   // guarded by bindingLock
    uint32_t loadCount; // which load of the library the holders count for

    // Keeps LoadQORLIB and Unload from running at the same time on two threads. A leaf
    // lock: nothing else is taken while it is held (the loader's lock aside).
    CRITICAL_SECTION bindingLock;
};

// Constructed when the monitor library is loaded, destroyed when it is unloaded.
extern StackBinding g_stackBinding;

// The process snapshot calls, with the 8-bit process entry. Tests replace them to present
// process lists that a running system cannot produce (full paths, truncated entries).
struct ProcessSnapshotApi {
    HANDLE(WINAPI* createSnapshot)(DWORD flags, DWORD processId);
    BOOL(WINAPI* first)(HANDLE snapshot, tagPROCESSENTRY32* entry);
    BOOL(WINAPI* next)(HANDLE snapshot, tagPROCESSENTRY32* entry);
    BOOL(WINAPI* close)(HANDLE snapshot);
};
extern ProcessSnapshotApi g_processSnapshotApi;
