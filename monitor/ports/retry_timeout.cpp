// The retry time-out setting: "TransmissionRetryTimeout" under the monitor's registry root,
// seconds as REG_SZ text, read and written through the MONITORREG functions only.

#include "ports/retry_timeout.h"

#include <cstdint>
#include <cwchar>

const wchar_t RETRY_TIMEOUT_VALUE_NAME[] = L"TransmissionRetryTimeout";

BOOL ReadRetryTimeout(MonitorHandle* monitor, DWORD* timeoutMs) {
    MONITORINIT* init = monitor != nullptr ? monitor->monitorInit : nullptr;
    MONITORREG* reg = init != nullptr ? init->pMonitorReg : nullptr;
    wchar_t text[21] = {}; // 20 characters for the query, and a terminator of our own
    DWORD size = 20 * sizeof(wchar_t);
    LONG status = ERROR_CALL_NOT_IMPLEMENTED;
    if (reg != nullptr && reg->fpQueryValue != nullptr) {
        status = reg->fpQueryValue(init->hckRegistryRoot, RETRY_TIMEOUT_VALUE_NAME, nullptr,
                                   reinterpret_cast<PBYTE>(text), &size, init->hSpooler);
    }
    long seconds;
    if (status != ERROR_SUCCESS) {
        seconds = DEFAULT_RETRY_TIMEOUT_SECONDS;
        wchar_t defaultText[12];
        swprintf(defaultText, 12, L"%ld", seconds);
        if (reg != nullptr && reg->fpSetValue != nullptr) {
            reg->fpSetValue(init->hckRegistryRoot, RETRY_TIMEOUT_VALUE_NAME, REG_SZ,
                            reinterpret_cast<const BYTE*>(defaultText),
                            static_cast<DWORD>((wcslen(defaultText) + 1) * sizeof(wchar_t)),
                            init->hSpooler);
        }
    } else {
        text[20] = L'\0';
        seconds = wcstol(text, nullptr, 10);
    }
    // Kept as the 32-bit product, as ports have always stored it.
    *timeoutMs = static_cast<DWORD>(static_cast<uint32_t>(seconds) * 1000u);
    return TRUE;
}

LONG StoreRetryTimeoutText(MonitorHandle* monitor, const wchar_t* text, DWORD size) {
    if (monitor == nullptr || monitor->monitorInit == nullptr ||
        monitor->monitorInit->pMonitorReg == nullptr ||
        monitor->monitorInit->pMonitorReg->fpSetValue == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    MONITORINIT* init = monitor->monitorInit;
    return init->pMonitorReg->fpSetValue(init->hckRegistryRoot, RETRY_TIMEOUT_VALUE_NAME, REG_SZ,
                                         reinterpret_cast<const BYTE*>(text), size, init->hSpooler);
}
