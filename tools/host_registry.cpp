// The spooler host's MONITORREG: the registry functions the spooler gives a monitor, here
// over the registry itself. The monitor puts its own in place of these on every system but
// Windows 2000; they serve it there, as the spooler's would.

#include "spooler_host_parts.h"

namespace prnlink {

namespace {

LONG WINAPI RegCreate(HANDLE key, LPCWSTR subKey, DWORD options, REGSAM access,
                      PSECURITY_ATTRIBUTES security, PHANDLE result, PDWORD disposition, HANDLE) {
    return RegCreateKeyExW(static_cast<HKEY>(key), subKey, 0, nullptr, options, access, security,
                           reinterpret_cast<PHKEY>(result), disposition);
}
LONG WINAPI RegOpen(HANDLE key, LPCWSTR subKey, REGSAM access, PHANDLE result, HANDLE) {
    return RegOpenKeyExW(static_cast<HKEY>(key), subKey, 0, access,
                         reinterpret_cast<PHKEY>(result));
}
LONG WINAPI RegClose(HANDLE key, HANDLE) {
    return RegCloseKey(static_cast<HKEY>(key));
}
LONG WINAPI RegDelete(HANDLE key, LPCWSTR subKey, HANDLE) {
    return RegDeleteKeyW(static_cast<HKEY>(key), subKey);
}
LONG WINAPI RegEnum(HANDLE key, DWORD index, LPWSTR name, PDWORD nameLength, PFILETIME written,
                    HANDLE) {
    return RegEnumKeyExW(static_cast<HKEY>(key), index, name, nameLength, nullptr, nullptr, nullptr,
                         written);
}
LONG WINAPI RegQueryInfo(HANDLE key, PDWORD subKeys, PDWORD keyLength, PDWORD values,
                         PDWORD valueLength, PDWORD dataLength, PDWORD securityLength,
                         PFILETIME written, HANDLE) {
    return RegQueryInfoKeyW(static_cast<HKEY>(key), nullptr, nullptr, nullptr, subKeys, keyLength,
                            nullptr, values, valueLength, dataLength, securityLength, written);
}
LONG WINAPI RegSet(HANDLE key, LPCWSTR value, DWORD type, const BYTE* data, DWORD size, HANDLE) {
    return RegSetValueExW(static_cast<HKEY>(key), value, 0, type, data, size);
}
LONG WINAPI RegDeleteVal(HANDLE key, LPCWSTR value, HANDLE) {
    return RegDeleteValueW(static_cast<HKEY>(key), value);
}
LONG WINAPI RegEnumVal(HANDLE key, DWORD index, LPWSTR value, PDWORD valueLength, PDWORD type,
                       PBYTE data, PDWORD dataLength, HANDLE) {
    return RegEnumValueW(static_cast<HKEY>(key), index, value, valueLength, nullptr, type, data,
                         dataLength);
}
LONG WINAPI RegQuery(HANDLE key, LPCWSTR value, PDWORD type, PBYTE data, PDWORD size, HANDLE) {
    return RegQueryValueExW(static_cast<HKEY>(key), value, nullptr, type, data, size);
}

} // namespace

MONITORREG HostRegistryFunctions() {
    return MONITORREG{sizeof(MONITORREG), RegCreate, RegOpen,      RegClose,   RegDelete, RegEnum,
                      RegQueryInfo,       RegSet,    RegDeleteVal, RegEnumVal, RegQuery};
}

} // namespace prnlink
