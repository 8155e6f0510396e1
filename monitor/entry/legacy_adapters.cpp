// The legacy MONITOR entries that take 8-bit strings.

#include "entry/legacy_adapters.h"
#include "entry/byte_text.h"
#include "common/memory.h"

#include <cstring>

LegacyAdapterCalls g_legacyAdapterCalls = {MessageBoxA};

const char ADD_PORT_REFUSAL_CAPTION[] = "Bluetooth HCRP";
const char ADD_PORT_REFUSAL_TEXT[] =
    "Bluetooth Ports are not added through the Spooler!\nYou must perform a Service Discovery "
    "on the device you wish\nto print to.";

namespace {

// One widened string argument in a buffer on the stack; null stays null.
template <size_t Capacity> class WideArgument {
  public:
    // False when the text does not fit the buffer with its terminator.
    bool Set(const char* text) {
        if (text == nullptr) {
            pointer_ = nullptr;
            return true;
        }
        pointer_ = buffer_;
        return WidenBytes(text, buffer_, Capacity);
    }
    wchar_t* get() { return pointer_; }

  private:
    wchar_t buffer_[Capacity];
    wchar_t* pointer_ = nullptr;
};

BOOL Refuse(DWORD code) {
    SetLastError(code);
    return FALSE;
}

// The monitor-level operations need the handle made by InitializeMonitorEx; after Shutdown
// there is none.
bool HaveMonitor() {
    return g_monitorHandle != nullptr;
}

} // namespace

BOOL WINAPI LegacyEnumPorts(LPSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded,
                            LPDWORD pcReturned) {
    WideArgument<LEGACY_NAME_CHARACTERS> name;
    if (!name.Set(pName)) {
        return Refuse(ERROR_INVALID_NAME);
    }
    if (!HaveMonitor()) {
        return Refuse(ERROR_INVALID_HANDLE);
    }
    return g_monitor2Table.pfnEnumPorts(g_monitorHandle, name.get(), Level, pPorts, cbBuf,
                                        pcbNeeded, pcReturned);
}

BOOL WINAPI LegacyOpenPort(LPSTR pName, PHANDLE pHandle) {
    WideArgument<LEGACY_NAME_CHARACTERS> name;
    if (!name.Set(pName)) {
        return Refuse(ERROR_INVALID_NAME);
    }
    if (!HaveMonitor()) {
        return Refuse(ERROR_INVALID_HANDLE);
    }
    return g_monitor2Table.pfnOpenPort(g_monitorHandle, name.get(), pHandle);
}

BOOL WINAPI LegacyStartDocPort(HANDLE hPort, LPSTR pPrinterName, DWORD JobId, DWORD Level,
                               LPBYTE pDocInfo) {
    WideArgument<LEGACY_NAME_CHARACTERS> printerName;
    if (!printerName.Set(pPrinterName)) {
        return Refuse(ERROR_INVALID_NAME);
    }
    return g_monitor2Table.pfnStartDocPort(hPort, printerName.get(), JobId, Level, pDocInfo);
}

BOOL WINAPI LegacyAddPort(LPSTR pName, HWND hWnd, LPSTR pMonitorName) {
    WideArgument<LEGACY_PORT_NAME_CHARACTERS> name;
    WideArgument<LEGACY_PORT_NAME_CHARACTERS> monitorName;
    if (!name.Set(pName) || !monitorName.Set(pMonitorName)) {
        return Refuse(ERROR_INVALID_NAME);
    }
    return AddPortRefusal(g_monitorHandle, name.get(), hWnd, monitorName.get());
}

BOOL AddPortRefusal(HANDLE, const wchar_t*, HWND hWnd, const wchar_t*) {
    // The message box may touch the thread's error code; the refusal sets none.
    DWORD lastError = GetLastError();
    g_legacyAdapterCalls.messageBoxA(hWnd, ADD_PORT_REFUSAL_TEXT, ADD_PORT_REFUSAL_CAPTION,
                                     MB_ICONINFORMATION);
    SetLastError(lastError);
    return FALSE;
}

BOOL WINAPI LegacyConfigurePort(LPSTR, HWND, LPSTR) {
    return FALSE;
}

BOOL WINAPI LegacyDeletePort(LPSTR pName, HWND hWnd, LPSTR pPortName) {
    WideArgument<LEGACY_PORT_NAME_CHARACTERS> name;
    WideArgument<LEGACY_PORT_NAME_CHARACTERS> portName;
    if (!name.Set(pName) || !portName.Set(pPortName)) {
        return Refuse(ERROR_INVALID_NAME);
    }
    if (!HaveMonitor()) {
        return Refuse(ERROR_INVALID_HANDLE);
    }
    return g_monitor2Table.pfnDeletePort(g_monitorHandle, name.get(), hWnd, portName.get());
}

namespace {

// A zero-filled work buffer of twice the caller's size (the wide form of its 8-bit text);
// none for a size of 0. False when it cannot be had, with the error set.
bool AllocateWideOf(DWORD callerSize, WorkMemory* buffer) {
    if (callerSize == 0) {
        return true;
    }
    // Twice a size above 2 GB does not fit in 32 bits.
    if (callerSize > MAXDWORD / 2) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    return buffer->Allocate(2 * static_cast<size_t>(callerSize));
}

} // namespace

BOOL WINAPI LegacyGetPrinterDataFromPort(HANDLE hPort, DWORD ControlID, LPSTR pValueName,
                                         LPSTR lpInBuffer, DWORD cbInBuffer, LPSTR lpOutBuffer,
                                         DWORD cbOutBuffer, LPDWORD lpcbReturned) {
    WorkMemory input;
    WorkMemory output;
    if (!AllocateWideOf(cbInBuffer, &input) || !AllocateWideOf(cbOutBuffer, &output)) {
        return FALSE; // the allocation's error code stays set
    }
    // The caller's input reaches the operation unchanged.
    if (lpInBuffer != nullptr && cbInBuffer != 0) {
        memcpy(input.get(), lpInBuffer, cbInBuffer);
    }
    // The operation writes 8-bit text into the work buffer and its size in bytes into the
    // count; a control code it answers without data leaves the count alone. So the count
    // starts at 0, whatever the caller's held: bytes reach the caller only when the
    // operation reported them, never more than its buffer holds.
    DWORD reported = 0;
    BOOL result = g_monitor2Table.pfnGetPrinterDataFromPort(
        hPort, ControlID, reinterpret_cast<LPWSTR>(pValueName), input.as<wchar_t>(), cbInBuffer,
        output.as<wchar_t>(), cbOutBuffer, lpcbReturned != nullptr ? &reported : nullptr);
    if (lpcbReturned == nullptr) {
        return result;
    }
    *lpcbReturned = reported;
    if (result && lpOutBuffer != nullptr && reported != 0) {
        DWORD count = reported < cbOutBuffer ? reported : cbOutBuffer;
        memcpy(lpOutBuffer, output.get(), count);
    }
    return result;
}
