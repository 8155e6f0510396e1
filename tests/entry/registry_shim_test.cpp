// The registry shim against Wine's real registry, in a scratch key of its own.

#include <gtest/gtest.h>

#include "support/table_sizes.h"

#include "entry/registry_shim.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

const char SCRATCH[] = "Software\\Prnlink Tests\\Registry Shim";

void DeleteTree(HKEY parent, const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(parent, name, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
        return;
    }
    char child[256];
    DWORD size = sizeof(child);
    while (RegEnumKeyExA(key, 0, child, &size, nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS) {
        DeleteTree(key, child);
        size = sizeof(child);
    }
    RegCloseKey(key);
    RegDeleteKeyA(parent, name);
}

// The value as the 8-bit registry holds it.
struct Stored {
    LONG status;
    DWORD type;
    std::vector<BYTE> bytes;
};

class RegistryShim : public ::testing::Test {
  protected:
    void SetUp() override {
        DeleteTree(HKEY_CURRENT_USER, SCRATCH);
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, SCRATCH, 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key_, nullptr),
                  ERROR_SUCCESS);
        shim_ = CreateRegistryShim();
        ASSERT_NE(shim_, nullptr);
    }
    void TearDown() override {
        RegCloseKey(key_);
        DeleteTree(HKEY_CURRENT_USER, SCRATCH);
        GlobalFree(shim_);
    }

    HANDLE key() { return key_; }

    LONG SetText(const wchar_t* name, const wchar_t* text, DWORD size) {
        return shim_->fpSetValue(key_, name, REG_SZ, reinterpret_cast<const BYTE*>(text), size,
                                 nullptr);
    }
    LONG SetBytes(const char* name, DWORD type, const void* data, DWORD size) {
        return RegSetValueExA(key_, name, 0, type, static_cast<const BYTE*>(data), size);
    }
    Stored Read8(const char* name) {
        Stored stored = {0, 0, std::vector<BYTE>(256)};
        DWORD size = 256;
        stored.status =
            RegQueryValueExA(key_, name, nullptr, &stored.type, stored.bytes.data(), &size);
        stored.bytes.resize(stored.status == ERROR_SUCCESS ? size : 0);
        return stored;
    }

    HKEY key_ = nullptr;
    MONITORREG* shim_ = nullptr;
};

std::vector<BYTE> Bytes(const char* text, size_t size) {
    return std::vector<BYTE>(text, text + size);
}

} // namespace

TEST_F(RegistryShim, IsAFreshTableOfTenOperations) {
    EXPECT_EQ(shim_->cbSize, testsupport::MONITORREG_BYTES);
    MONITORREG* other = CreateRegistryShim();
    ASSERT_NE(other, nullptr);
    EXPECT_NE(other, shim_);
    EXPECT_EQ(other->fpCreateKey, ShimCreateKey);
    EXPECT_EQ(other->fpOpenKey, ShimOpenKey);
    EXPECT_EQ(other->fpCloseKey, ShimCloseKey);
    EXPECT_EQ(other->fpDeleteKey, ShimDeleteKey);
    EXPECT_EQ(other->fpEnumKey, ShimEnumKey);
    EXPECT_EQ(other->fpQueryInfoKey, ShimQueryInfoKey);
    EXPECT_EQ(other->fpSetValue, ShimSetValue);
    EXPECT_EQ(other->fpDeleteValue, ShimDeleteValue);
    EXPECT_EQ(other->fpEnumValue, ShimEnumValue);
    EXPECT_EQ(other->fpQueryValue, ShimQueryValue);
    GlobalFree(other);
}

TEST_F(RegistryShim, CreatesOpensClosesAndDeletesKeys) {
    HANDLE sub = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(
        shim_->fpCreateKey(key(), L"Sub", 0, KEY_ALL_ACCESS, nullptr, &sub, &disposition, nullptr),
        ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    EXPECT_EQ(shim_->fpCloseKey(sub, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(
        shim_->fpCreateKey(key(), L"Sub", 0, KEY_ALL_ACCESS, nullptr, &sub, &disposition, nullptr),
        ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    // The key handle works with the 8-bit functions.
    DWORD value = 7;
    EXPECT_EQ(RegSetValueExA(static_cast<HKEY>(sub), "v", 0, REG_DWORD,
                             reinterpret_cast<BYTE*>(&value), 4),
              ERROR_SUCCESS);
    EXPECT_EQ(shim_->fpCloseKey(sub, nullptr), ERROR_SUCCESS);

    HANDLE opened = nullptr;
    EXPECT_EQ(shim_->fpOpenKey(key(), L"Sub", KEY_READ, &opened, nullptr), ERROR_SUCCESS);
    EXPECT_NE(opened, nullptr);
    EXPECT_EQ(shim_->fpCloseKey(opened, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(shim_->fpOpenKey(key(), L"Missing", KEY_READ, &opened, nullptr),
              ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(shim_->fpDeleteKey(key(), L"Sub", nullptr), ERROR_SUCCESS);
    EXPECT_EQ(shim_->fpOpenKey(key(), L"Sub", KEY_READ, &opened, nullptr), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(shim_->fpDeleteKey(key(), L"Sub", nullptr), ERROR_FILE_NOT_FOUND);

    // Out-pointers the operations need, and a null sub-key to delete.
    EXPECT_EQ(
        shim_->fpCreateKey(key(), L"Sub", 0, KEY_ALL_ACCESS, nullptr, nullptr, nullptr, nullptr),
        ERROR_INVALID_PARAMETER);
    EXPECT_EQ(shim_->fpOpenKey(key(), L"Sub", KEY_READ, nullptr, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(shim_->fpDeleteKey(key(), nullptr, nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryShim, KeyNamesAreNarrowedByteForByteAndNeverCut) {
    HANDLE sub = nullptr;
    ASSERT_EQ(
        shim_->fpCreateKey(key(), L"Caf\x00E9", 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr, nullptr),
        ERROR_SUCCESS);
    shim_->fpCloseKey(sub, nullptr);
    HKEY check = nullptr;
    ASSERT_EQ(RegOpenKeyExA(key_, "Caf\xE9", 0, KEY_READ, &check), ERROR_SUCCESS);
    RegCloseKey(check);

    // A name with a character above 255 would end at it and name "Caf\xE9" instead.
    EXPECT_EQ(shim_->fpDeleteKey(key(), L"Caf\x00E9\x4E2D", nullptr), ERROR_NO_UNICODE_TRANSLATION);
    EXPECT_EQ(shim_->fpOpenKey(key(), L"Caf\x00E9\x4E2D", KEY_READ, &sub, nullptr),
              ERROR_NO_UNICODE_TRANSLATION);
    EXPECT_EQ(shim_->fpCreateKey(key(), L"Caf\x00E9\x4E2D", 0, KEY_ALL_ACCESS, nullptr, &sub,
                                 nullptr, nullptr),
              ERROR_NO_UNICODE_TRANSLATION);
    ASSERT_EQ(RegOpenKeyExA(key_, "Caf\xE9", 0, KEY_READ, &check), ERROR_SUCCESS);
    RegCloseKey(check);
}

TEST_F(RegistryShim, EnumeratesSubKeys) {
    HKEY sub = nullptr;
    ASSERT_EQ(RegCreateKeyExA(key_, "Fives", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(sub);
    wchar_t name[32];
    wmemset(name, L'#', 32);
    DWORD count = 32;
    FILETIME written = {};
    ASSERT_EQ(shim_->fpEnumKey(key(), 0, name, &count, &written, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(name), L"Fives");
    EXPECT_EQ(count, 6u); // characters written, terminator included
    EXPECT_NE(written.dwLowDateTime | written.dwHighDateTime, 0u);

    // Past the last sub-key: the 8-bit call's status, the name left alone.
    wmemset(name, L'#', 32);
    count = 32;
    EXPECT_EQ(shim_->fpEnumKey(key(), 1, name, &count, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(name[0], L'#');

    // A name buffer too small: the 8-bit call's ERROR_MORE_DATA, nothing written.
    count = 5;
    EXPECT_EQ(shim_->fpEnumKey(key(), 0, name, &count, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(name[0], L'#');
    count = 0;
    EXPECT_EQ(shim_->fpEnumKey(key(), 0, name, &count, nullptr, nullptr), ERROR_MORE_DATA);

    EXPECT_EQ(shim_->fpEnumKey(key(), 0, nullptr, &count, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(shim_->fpEnumKey(key(), 0, name, nullptr, nullptr, nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryShim, QueryInfoKeyReportsTheEightBitView) {
    HKEY sub = nullptr;
    RegCreateKeyExA(key_, "Short", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr);
    RegCloseKey(sub);
    RegCreateKeyExA(key_, "A longer name", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr);
    RegCloseKey(sub);
    SetBytes("value name", REG_BINARY, "0123456789", 10);
    SetBytes("v", REG_SZ, "abc", 4);

    DWORD subKeys = 0, longestKey = 0, values = 0, longestValue = 0, longestData = 0, security = 0;
    FILETIME written = {};
    ASSERT_EQ(shim_->fpQueryInfoKey(key(), &subKeys, &longestKey, &values, &longestValue,
                                    &longestData, &security, &written, nullptr),
              ERROR_SUCCESS);
    DWORD expected[6] = {};
    FILETIME expectedWritten = {};
    ASSERT_EQ(RegQueryInfoKeyA(key_, nullptr, nullptr, nullptr, &expected[0], &expected[1], nullptr,
                               &expected[2], &expected[3], &expected[4], &expected[5],
                               &expectedWritten),
              ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 2u);
    EXPECT_EQ(values, 2u);
    EXPECT_EQ(longestKey, expected[1]);
    EXPECT_EQ(longestValue, expected[3]);
    EXPECT_EQ(longestData, expected[4]);
    EXPECT_EQ(security, expected[5]);
    // Every out-pointer is optional.
    EXPECT_EQ(shim_->fpQueryInfoKey(key(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                    nullptr, nullptr),
              ERROR_SUCCESS);
}

TEST_F(RegistryShim, SetValueStoresTextAsTerminatedEightBitText) {
    // cbData larger than the text: the text ends at its terminator.
    const wchar_t text[50] = L"ab";
    ASSERT_EQ(SetText(L"Two", text, sizeof(text)), ERROR_SUCCESS);
    Stored stored = Read8("Two");
    EXPECT_EQ(stored.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(stored.bytes, Bytes("ab", 3));

    // Text that is not terminated within cbData ends with cbData.
    const wchar_t unterminated[3] = {L'4', L'5', L'9'};
    ASSERT_EQ(SetText(L"Bounded", unterminated, 4), ERROR_SUCCESS);
    EXPECT_EQ(Read8("Bounded").bytes, Bytes("45", 3));

    // No data: an empty string of one byte.
    ASSERT_EQ(shim_->fpSetValue(key(), L"Empty", REG_SZ, nullptr, 99, nullptr), ERROR_SUCCESS);
    stored = Read8("Empty");
    EXPECT_EQ(stored.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(stored.bytes, Bytes("", 1));

    // Latin-1 text keeps each character's value as its byte.
    ASSERT_EQ(SetText(L"Latin", L"\x00E9\x00FF", 6), ERROR_SUCCESS);
    EXPECT_EQ(Read8("Latin").bytes, Bytes("\xE9\xFF", 3));

    // Text with a character above 255 is refused and the old value stays.
    EXPECT_EQ(SetText(L"Two", L"a\x4E2D", 6), ERROR_NO_UNICODE_TRANSLATION);
    EXPECT_EQ(Read8("Two").bytes, Bytes("ab", 3));
    EXPECT_EQ(SetText(L"x\x4E2D", L"a", 4), ERROR_NO_UNICODE_TRANSLATION);

    // A null name is the key's default value.
    ASSERT_EQ(SetText(nullptr, L"default", 16), ERROR_SUCCESS);
    EXPECT_EQ(Read8(nullptr).bytes, Bytes("default", 8));
}

TEST_F(RegistryShim, QueryValueWidensTextAndCountsBytes) {
    ASSERT_EQ(SetText(L"Two", L"ab", 6), ERROR_SUCCESS);
    BYTE data[80];
    memset(data, 0xCC, sizeof(data));
    DWORD size = sizeof(data);
    DWORD type = 0;
    ASSERT_EQ(shim_->fpQueryValue(key(), L"Two", &type, data, &size, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 6u); // two characters and the terminator, in bytes
    EXPECT_EQ(std::wstring(reinterpret_cast<wchar_t*>(data)), L"ab");
    EXPECT_EQ(data[6], 0xCC);

    // Without a type pointer, as the monitor's retry time-out reader asks.
    size = sizeof(data);
    ASSERT_EQ(shim_->fpQueryValue(key(), L"Two", nullptr, data, &size, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(size, 6u);

    // Text stored without a terminator ends where its bytes end.
    SetBytes("Raw", REG_SZ, "xyz", 3);
    size = sizeof(data);
    ASSERT_EQ(shim_->fpQueryValue(key(), L"Raw", &type, data, &size, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(reinterpret_cast<wchar_t*>(data)), L"xyz");
    EXPECT_EQ(size, 8u);
}

TEST_F(RegistryShim, QueryValueWithoutDataReportsOnlyTheType) {
    ASSERT_EQ(SetText(L"Two", L"ab", 6), ERROR_SUCCESS);
    DWORD type = 0;
    DWORD size = 1234;
    ASSERT_EQ(shim_->fpQueryValue(key(), L"Two", &type, nullptr, &size, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 1234u);
    // Data without a size to go with it is refused.
    BYTE data[8];
    EXPECT_EQ(shim_->fpQueryValue(key(), L"Two", &type, data, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryShim, QueryValueFailuresLeaveTheCallersVariables) {
    BYTE data[4] = {0xCC, 0xCC, 0xCC, 0xCC};
    DWORD size = sizeof(data);
    DWORD type = 99;
    EXPECT_EQ(shim_->fpQueryValue(key(), L"Missing", &type, data, &size, nullptr),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(type, 99u);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(data[0], 0xCC);

    // Data too large for the buffer: the 8-bit call's ERROR_MORE_DATA, no size reported.
    SetBytes("Ten", REG_BINARY, "0123456789", 10);
    EXPECT_EQ(shim_->fpQueryValue(key(), L"Ten", &type, data, &size, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(size, 4u);

    // Text that fits the buffer in 8 bits but not once widened.
    SetBytes("Six", REG_SZ, "abcdef", 7);
    BYTE text[10];
    memset(text, 0xCC, sizeof(text));
    size = sizeof(text);
    EXPECT_EQ(shim_->fpQueryValue(key(), L"Six", &type, text, &size, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(text[0], 0xCC);
}

TEST_F(RegistryShim, RawTypesRoundTripAsBytes) {
    const DWORD number = 0x12345678;
    ASSERT_EQ(shim_->fpSetValue(key(), L"Number", REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                                4, nullptr),
              ERROR_SUCCESS);
    DWORD read = 0, size = 4, type = 0;
    ASSERT_EQ(shim_->fpQueryValue(key(), L"Number", &type, reinterpret_cast<BYTE*>(&read), &size,
                                  nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(read, number);

    // REG_MULTI_SZ passes as raw bytes both ways.
    const wchar_t multi[] = L"one\0two\0";
    const DWORD multiSize = sizeof(multi);
    ASSERT_EQ(shim_->fpSetValue(key(), L"Multi", REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi),
                                multiSize, nullptr),
              ERROR_SUCCESS);
    BYTE back[64] = {};
    size = sizeof(back);
    ASSERT_EQ(shim_->fpQueryValue(key(), L"Multi", &type, back, &size, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(size, multiSize);
    EXPECT_EQ(memcmp(back, multi, multiSize), 0);
}

TEST_F(RegistryShim, NullNamesSelectTheDefaultValue) {
    SetBytes(nullptr, REG_SZ, "dflt", 5);
    SetBytes("other", REG_SZ, "o", 2);
    BYTE data[32];
    DWORD size = sizeof(data), type = 0;
    ASSERT_EQ(shim_->fpQueryValue(key(), nullptr, &type, data, &size, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(reinterpret_cast<wchar_t*>(data)), L"dflt");
    ASSERT_EQ(shim_->fpDeleteValue(key(), nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(Read8(nullptr).status, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Read8("other").status, ERROR_SUCCESS);
}

TEST_F(RegistryShim, DeleteValueNeverHitsAnotherValue) {
    SetBytes("a?", REG_SZ, "keep", 5);
    // No byte in the ANSI code page for this character: refused, not replaced by "?".
    EXPECT_EQ(shim_->fpDeleteValue(key(), L"a\x4E2D", nullptr), ERROR_NO_UNICODE_TRANSLATION);
    EXPECT_EQ(Read8("a?").status, ERROR_SUCCESS);
    BYTE data[8];
    DWORD size = sizeof(data);
    EXPECT_EQ(shim_->fpQueryValue(key(), L"a\x4E2D", nullptr, data, &size, nullptr),
              ERROR_NO_UNICODE_TRANSLATION);
    EXPECT_EQ(shim_->fpDeleteValue(key(), L"a?", nullptr), ERROR_SUCCESS);
    EXPECT_EQ(Read8("a?").status, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(shim_->fpDeleteValue(key(), L"a?", nullptr), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryShim, EnumValueDeliversNameAndData) {
    ASSERT_EQ(SetText(L"Two", L"ab", 6), ERROR_SUCCESS);
    wchar_t name[16];
    DWORD nameCount = 16;
    DWORD type = 0;
    BYTE data[80];
    DWORD size = sizeof(data);
    ASSERT_EQ(shim_->fpEnumValue(key(), 0, name, &nameCount, &type, data, &size, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(name), L"Two");
    EXPECT_EQ(nameCount, 4u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 6u); // as fpQueryValue counts it
    EXPECT_EQ(std::wstring(reinterpret_cast<wchar_t*>(data)), L"ab");

    // Without a type pointer the data still arrives.
    nameCount = 16;
    size = sizeof(data);
    memset(data, 0, sizeof(data));
    ASSERT_EQ(shim_->fpEnumValue(key(), 0, name, &nameCount, nullptr, data, &size, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(std::wstring(reinterpret_cast<wchar_t*>(data)), L"ab");

    // Name only.
    nameCount = 16;
    size = 1234;
    ASSERT_EQ(shim_->fpEnumValue(key(), 0, name, &nameCount, &type, nullptr, &size, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(name), L"Two");
    EXPECT_EQ(size, 1234u);
}

TEST_F(RegistryShim, EnumValueFailures) {
    SetBytes("Binary", REG_BINARY, "0123456789", 10);
    wchar_t name[16];
    wmemset(name, L'#', 16);
    DWORD nameCount = 16, type = 0;
    BYTE data[4];
    DWORD size = sizeof(data);
    // Data too large: ERROR_MORE_DATA passes through, the caller's size stays.
    EXPECT_EQ(shim_->fpEnumValue(key(), 0, name, &nameCount, &type, data, &size, nullptr),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 4u);

    // A name buffer too small.
    nameCount = 3;
    size = sizeof(data);
    EXPECT_EQ(shim_->fpEnumValue(key(), 0, name, &nameCount, &type, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);

    // Past the last value.
    nameCount = 16;
    wmemset(name, L'#', 16);
    EXPECT_EQ(shim_->fpEnumValue(key(), 1, name, &nameCount, &type, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(name[0], L'#');

    // Out-pointers it needs.
    EXPECT_EQ(shim_->fpEnumValue(key(), 0, nullptr, &nameCount, &type, nullptr, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(shim_->fpEnumValue(key(), 0, name, nullptr, &type, nullptr, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(shim_->fpEnumValue(key(), 0, name, &nameCount, &type, data, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryShim, AClosedKeyGivesTheRegistryStatus) {
    HANDLE sub = nullptr;
    ASSERT_EQ(shim_->fpCreateKey(key(), L"Sub", 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(shim_->fpCloseKey(sub, nullptr), ERROR_SUCCESS);
    DWORD size = 4;
    BYTE data[4];
    EXPECT_EQ(shim_->fpQueryValue(sub, L"x", nullptr, data, &size, nullptr), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryShim, ZeroSizedBuffers) {
    ASSERT_EQ(SetText(L"Two", L"ab", 6), ERROR_SUCCESS);
    BYTE data[8] = {0xCC};
    DWORD size = 0, type = 0;
    EXPECT_EQ(shim_->fpQueryValue(key(), L"Two", &type, data, &size, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(data[0], 0xCC);
    // An empty text needs two bytes once widened: one byte is too small.
    ASSERT_EQ(shim_->fpSetValue(key(), L"Empty", REG_SZ, nullptr, 0, nullptr), ERROR_SUCCESS);
    size = 1;
    EXPECT_EQ(shim_->fpQueryValue(key(), L"Empty", &type, data, &size, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(size, 1u);
    size = 2;
    EXPECT_EQ(shim_->fpQueryValue(key(), L"Empty", &type, data, &size, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(data[0] | data[1], 0);
}

TEST(AnsiWidening, ANameThatDoesNotFitGivesZeroAndWritesNothing) {
    wchar_t out[4];
    wmemset(out, L'#', 4);
    EXPECT_EQ(WidenAnsiText("abcd", 4, out, 4), 0u);
    EXPECT_EQ(out[0], L'#');
    EXPECT_EQ(WidenAnsiText("abc", 3, out, 4), 4u);
    EXPECT_EQ(std::wstring(out), L"abc");
    EXPECT_EQ(WidenAnsiText("", 0, out, 1), 1u);
    EXPECT_EQ(out[0], L'\0');
    EXPECT_EQ(WidenAnsiText("", 0, out, 0), 0u);
}
