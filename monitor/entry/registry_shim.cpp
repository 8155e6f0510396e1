// The MONITORREG table over the 8-bit registry functions.

#include "entry/registry_shim.h"
#include "entry/byte_text.h"
#include "common/memory.h"

#include <cstdint>
#include <cstring>

namespace {

HKEY Key(HANDLE handle) {
    return static_cast<HKEY>(handle);
}

size_t BoundedLength(const char* text, size_t limit) {
    size_t length = 0;
    while (length < limit && text[length] != '\0') {
        ++length;
    }
    return length;
}

// Byte-wise ("%S") narrowing of at most maxCharacters characters; a null text stays null.
// A character above 255 has no byte of its own: the text is refused rather than cut at it.
LONG NarrowBytewise(const wchar_t* text, WorkMemory* out, size_t maxCharacters = SIZE_MAX,
                    size_t* length = nullptr) {
    if (text == nullptr) {
        return ERROR_SUCCESS;
    }
    size_t count = 0;
    if (!MeasureNarrowable(text, maxCharacters, &count)) {
        return ERROR_NO_UNICODE_TRANSLATION;
    }
    if (!out->Allocate(count + 1)) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    NarrowBytes(text, count, out->as<char>());
    if (length != nullptr) {
        *length = count;
    }
    return ERROR_SUCCESS;
}

// Narrowing in the ANSI code page; a null text stays null. A character without an exact
// byte sequence in that code page is refused: its replacement or nearest match would name
// a different value.
LONG NarrowAnsi(const wchar_t* text, WorkMemory* out) {
    if (text == nullptr) {
        return ERROR_SUCCESS;
    }
    const bool strict = GetACP() != CP_UTF8; // UTF-8 takes neither the flag nor the check
    DWORD flags = strict ? WC_NO_BEST_FIT_CHARS : 0;
    BOOL usedDefault = FALSE;
    int size = WideCharToMultiByte(CP_ACP, flags, text, -1, nullptr, 0, nullptr,
                                   strict ? &usedDefault : nullptr);
    if (size <= 0 || usedDefault) {
        return ERROR_NO_UNICODE_TRANSLATION;
    }
    if (!out->Allocate(static_cast<size_t>(size))) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    if (WideCharToMultiByte(CP_ACP, flags, text, -1, out->as<char>(), size, nullptr, nullptr) <=
        0) {
        return ERROR_NO_UNICODE_TRANSLATION;
    }
    return ERROR_SUCCESS;
}

// Hands the value data that the 8-bit call returned (received bytes of type) to the
// caller's buffer of *pcbData bytes. REG_SZ text is widened; every other type is copied
// as it is. ERROR_MORE_DATA, with *pcbData as it was, when the widened text does not fit.
LONG DeliverData(DWORD type, const char* data, DWORD received, PBYTE pData, PDWORD pcbData) {
    if (type == REG_SZ) {
        DWORD written =
            WidenAnsiText(data, BoundedLength(data, received), reinterpret_cast<wchar_t*>(pData),
                          *pcbData / sizeof(wchar_t));
        if (written == 0) {
            return ERROR_MORE_DATA;
        }
        *pcbData = written * sizeof(wchar_t);
        return ERROR_SUCCESS;
    }
    memcpy(pData, data, received);
    *pcbData = received;
    return ERROR_SUCCESS;
}

} // namespace

DWORD WidenAnsiText(const char* text, size_t length, wchar_t* out, DWORD capacity) {
    int needed = 0;
    if (length > 0) {
        needed = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0);
        if (needed <= 0) {
            return 0;
        }
    }
    if (static_cast<DWORD>(needed) >= capacity) {
        return 0;
    }
    if (needed > 0) {
        MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), out, needed);
    }
    out[needed] = L'\0';
    return static_cast<DWORD>(needed) + 1;
}

LONG WINAPI ShimCreateKey(HANDLE hcKey, LPCWSTR pszSubKey, DWORD dwOptions, REGSAM samDesired,
                          PSECURITY_ATTRIBUTES pSecurityAttributes, PHANDLE phckResult,
                          PDWORD pdwDisposition, HANDLE) {
    if (phckResult == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    WorkMemory subKey;
    LONG status = NarrowBytewise(pszSubKey, &subKey);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    return RegCreateKeyExA(Key(hcKey), subKey.as<char>(), 0, nullptr, dwOptions, samDesired,
                           pSecurityAttributes, reinterpret_cast<PHKEY>(phckResult),
                           pdwDisposition);
}

LONG WINAPI ShimOpenKey(HANDLE hcKey, LPCWSTR pszSubKey, REGSAM samDesired, PHANDLE phkResult,
                        HANDLE) {
    if (phkResult == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    WorkMemory subKey;
    LONG status = NarrowBytewise(pszSubKey, &subKey);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    return RegOpenKeyExA(Key(hcKey), subKey.as<char>(), 0, samDesired,
                         reinterpret_cast<PHKEY>(phkResult));
}

LONG WINAPI ShimCloseKey(HANDLE hcKey, HANDLE) {
    return RegCloseKey(Key(hcKey));
}

LONG WINAPI ShimDeleteKey(HANDLE hcKey, LPCWSTR pszSubKey, HANDLE) {
    // A null sub-key would name the key itself.
    if (pszSubKey == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    WorkMemory subKey;
    LONG status = NarrowBytewise(pszSubKey, &subKey);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    return RegDeleteKeyA(Key(hcKey), subKey.as<char>());
}

LONG WINAPI ShimEnumKey(HANDLE hcKey, DWORD dwIndex, LPWSTR pszName, PDWORD pcchName,
                        PFILETIME pftLastWriteTime, HANDLE) {
    if (pszName == nullptr || pcchName == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    const DWORD capacity = *pcchName;
    WorkMemory name;
    if (!name.Allocate(capacity)) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    LONG status = RegEnumKeyExA(Key(hcKey), dwIndex, name.as<char>(), pcchName, nullptr, nullptr,
                                nullptr, pftLastWriteTime);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    *pcchName =
        WidenAnsiText(name.as<char>(), BoundedLength(name.as<char>(), capacity), pszName, capacity);
    return ERROR_SUCCESS;
}

LONG WINAPI ShimQueryInfoKey(HANDLE hcKey, PDWORD pcSubKeys, PDWORD pcbKey, PDWORD pcValues,
                             PDWORD pcbValue, PDWORD pcbData, PDWORD pcbSecurityDescriptor,
                             PFILETIME pftLastWriteTime, HANDLE) {
    return RegQueryInfoKeyA(Key(hcKey), nullptr, nullptr, nullptr, pcSubKeys, pcbKey, nullptr,
                            pcValues, pcbValue, pcbData, pcbSecurityDescriptor, pftLastWriteTime);
}

LONG WINAPI ShimSetValue(HANDLE hcKey, LPCWSTR pszValue, DWORD dwType, const BYTE* pData,
                         DWORD cbData, HANDLE) {
    // A null name selects the key's default value, as in the other value operations.
    WorkMemory name;
    LONG status = NarrowBytewise(pszValue, &name);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (dwType != REG_SZ) {
        return RegSetValueExA(Key(hcKey), name.as<char>(), 0, dwType, pData, cbData);
    }
    WorkMemory text;
    size_t length = 0;
    if (pData != nullptr) {
        // The text ends at its terminator or at the end of the caller's cbData bytes,
        // whichever comes first: the data may come from an Xcv caller and need not be
        // terminated.
        status = NarrowBytewise(reinterpret_cast<const wchar_t*>(pData), &text,
                                cbData / sizeof(wchar_t), &length);
        if (status != ERROR_SUCCESS) {
            return status;
        }
    } else if (!text.Allocate(1)) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    // The stored text carries its terminator, as REG_SZ data must.
    return RegSetValueExA(Key(hcKey), name.as<char>(), 0, REG_SZ, text.as<BYTE>(),
                          static_cast<DWORD>(length + 1));
}

LONG WINAPI ShimDeleteValue(HANDLE hcKey, LPCWSTR pszValue, HANDLE) {
    WorkMemory name;
    LONG status = NarrowAnsi(pszValue, &name);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    return RegDeleteValueA(Key(hcKey), name.as<char>());
}

LONG WINAPI ShimEnumValue(HANDLE hcKey, DWORD dwIndex, LPWSTR pszValue, PDWORD pcbValue,
                          PDWORD pType, PBYTE pData, PDWORD pcbData, HANDLE) {
    if (pszValue == nullptr || pcbValue == nullptr || (pData != nullptr && pcbData == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    const DWORD nameCapacity = *pcbValue;
    WorkMemory name;
    if (!name.Allocate(nameCapacity)) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    const bool wantData = pData != nullptr;
    WorkMemory data;
    DWORD received = wantData ? *pcbData : 0;
    if (wantData && !data.Allocate(received)) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    // Without the caller's type pointer the type is still needed to deliver the data.
    DWORD privateType = REG_NONE;
    PDWORD type = pType != nullptr ? pType : &privateType;
    LONG status =
        RegEnumValueA(Key(hcKey), dwIndex, name.as<char>(), pcbValue, nullptr, type,
                      wantData ? data.as<BYTE>() : nullptr, wantData ? &received : nullptr);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    *pcbValue = WidenAnsiText(name.as<char>(), BoundedLength(name.as<char>(), nameCapacity),
                              pszValue, nameCapacity);
    if (wantData) {
        return DeliverData(*type, data.as<char>(), received, pData, pcbData);
    }
    return ERROR_SUCCESS;
}

LONG WINAPI ShimQueryValue(HANDLE hcKey, LPCWSTR pszValue, PDWORD pType, PBYTE pData,
                           PDWORD pcbData, HANDLE) {
    if (pData != nullptr && pcbData == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    WorkMemory name;
    LONG status = NarrowAnsi(pszValue, &name);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    const bool wantData = pData != nullptr;
    WorkMemory data;
    DWORD received = wantData ? *pcbData : 0;
    if (wantData && !data.Allocate(received)) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    DWORD type = REG_NONE;
    status = RegQueryValueExA(Key(hcKey), name.as<char>(), nullptr, &type,
                              wantData ? data.as<BYTE>() : nullptr, wantData ? &received : nullptr);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (pType != nullptr) {
        *pType = type;
    }
    if (wantData) {
        return DeliverData(type, data.as<char>(), received, pData, pcbData);
    }
    return ERROR_SUCCESS;
}

MONITORREG* CreateRegistryShim() {
    auto* table = static_cast<MONITORREG*>(AllocZeroedMemory(sizeof(MONITORREG)));
    if (table == nullptr) {
        return nullptr;
    }
    table->cbSize = sizeof(MONITORREG);
    table->fpCreateKey = ShimCreateKey;
    table->fpOpenKey = ShimOpenKey;
    table->fpCloseKey = ShimCloseKey;
    table->fpDeleteKey = ShimDeleteKey;
    table->fpEnumKey = ShimEnumKey;
    table->fpQueryInfoKey = ShimQueryInfoKey;
    table->fpSetValue = ShimSetValue;
    table->fpDeleteValue = ShimDeleteValue;
    table->fpEnumValue = ShimEnumValue;
    table->fpQueryValue = ShimQueryValue;
    return table;
}
