#include "support/hcrpdb_writer.h"

#include "support/wide.h"

namespace testsupport {

std::wstring DatabasePath() {
    return WindowsDirectory() + L"\\HCRPDB.txt";
}

bool WriteDatabaseBytes(const std::string& bytes) {
    HANDLE file = CreateFileW(DatabasePath().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    BOOL ok = bytes.empty() ||
              WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && (bytes.empty() || written == bytes.size());
}

bool WriteDatabase(const std::vector<DeviceEntry>& entries) {
    std::string bytes;
    bytes.reserve(entries.size() * 274);
    for (const DeviceEntry& entry : entries) {
        bytes += FormatRecord(entry);
    }
    return WriteDatabaseBytes(bytes);
}

bool AppendRecord(const DeviceEntry& entry) {
    return WriteDatabaseBytes(ReadDatabaseBytes() + FormatRecord(entry));
}

std::string ReadDatabaseBytes() {
    HANDLE file =
        CreateFileW(DatabasePath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::string();
    }
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        bytes.append(buffer, got);
    }
    CloseHandle(file);
    return bytes;
}

bool DatabaseExists() {
    return GetFileAttributesW(DatabasePath().c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveDatabase() {
    DeleteFileW(DatabasePath().c_str());
}

std::wstring PortNameFor(const std::string& recordName) {
    std::wstring name;
    for (char c : recordName) {
        if (c == ',') {
            c = ' ';
        }
        name += static_cast<wchar_t>(static_cast<int16_t>(static_cast<signed char>(c)));
    }
    return name;
}

} // namespace testsupport
