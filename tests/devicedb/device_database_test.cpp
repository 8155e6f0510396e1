#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "devicedb/device_database.h"
#include "support/hcrpdb_writer.h"

using testsupport::DeviceEntry;
using testsupport::FormatRecord;
using testsupport::MakeEntry;
using testsupport::ReadDatabaseBytes;
using testsupport::WriteDatabase;
using testsupport::WriteDatabaseBytes;

namespace {

// Watches (and on demand fails) the accessor's file calls.
struct CallLog {
    int opens = 0;
    int sleeps = 0;
    int reads = 0;
    int writes = 0;
    int failReadAt = 0;     // fail the read with this number (1-based); 0: never
    int failWritesFrom = 0; // fail this write and, if failWritesAfter, every later one
    bool failWritesAfter = false;
    bool partialWrite = false; // a failing write still writes half its bytes
};
CallLog g_log;

// Set while a holder thread is to let go of the file after the first failed open.
HANDLE g_releaseHolder = nullptr;
HANDLE g_holderThread = nullptr;

HANDLE WINAPI CountingCreateFile(LPCWSTR name, DWORD access, DWORD share,
                                 LPSECURITY_ATTRIBUTES security, DWORD disposition,
                                 DWORD attributes, HANDLE tmpl) {
    ++g_log.opens;
    HANDLE file = CreateFileW(name, access, share, security, disposition, attributes, tmpl);
    if (file == INVALID_HANDLE_VALUE && g_releaseHolder != nullptr) {
        SetEvent(g_releaseHolder);
        WaitForSingleObject(g_holderThread, INFINITE);
        g_releaseHolder = nullptr;
    }
    return file;
}

VOID WINAPI CountingSleep(DWORD ms) {
    ++g_log.sleeps;
    Sleep(ms);
}

BOOL WINAPI FailingReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD got,
                            LPOVERLAPPED overlapped) {
    if (++g_log.reads == g_log.failReadAt) {
        *got = 0;
        SetLastError(ERROR_LOCK_VIOLATION);
        return FALSE;
    }
    return ReadFile(file, buffer, size, got, overlapped);
}

BOOL WINAPI FailingWriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written,
                             LPOVERLAPPED overlapped) {
    ++g_log.writes;
    bool fail = g_log.failWritesFrom != 0 &&
                (g_log.writes == g_log.failWritesFrom ||
                 (g_log.failWritesAfter && g_log.writes > g_log.failWritesFrom));
    if (fail) {
        *written = 0;
        if (g_log.partialWrite) {
            WriteFile(file, buffer, size / 2, written, overlapped);
        }
        SetLastError(ERROR_LOCK_VIOLATION);
        return FALSE;
    }
    return WriteFile(file, buffer, size, written, overlapped);
}

class DeviceDatabaseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = g_deviceFileCalls;
        g_log = CallLog();
        g_releaseHolder = nullptr;
        g_deviceFileCalls = {CountingCreateFile, FailingReadFile, FailingWriteFile, CountingSleep};
        testsupport::RemoveDatabase();
    }
    void TearDown() override {
        g_deviceFileCalls = saved_;
        testsupport::RemoveDatabase();
    }
    DeviceFileCalls saved_;
};

std::vector<DeviceEntry> Entries(int count) {
    std::vector<DeviceEntry> entries;
    for (int i = 0; i < count; ++i) {
        entries.push_back(MakeEntry(
            static_cast<uint32_t>(i + 1), "Printer " + std::to_string(i + 1),
            static_cast<uint16_t>(0x1001 + 2 * i), static_cast<uint16_t>(0x2001 + 2 * i)));
    }
    return entries;
}

std::string Concat(const std::vector<DeviceEntry>& entries) {
    std::string bytes;
    for (const DeviceEntry& entry : entries) {
        bytes += FormatRecord(entry);
    }
    return bytes;
}

struct Found {
    int result;
    std::string name;
    uint16_t control, data, third;
};

Found Find(const uint8_t address[6]) {
    DeviceDatabase db;
    char name[248];
    memset(name, 'j', sizeof(name));
    Found found;
    found.control = found.data = found.third = 0x5555;
    found.result = db.FindRecord(address, name, &found.control, &found.data, &found.third);
    found.name = std::string(name, strnlen(name, sizeof(name)));
    return found;
}

} // namespace

TEST_F(DeviceDatabaseTest, MissingFileIsCreatedEmptyAndReadsAsEmpty) {
    DeviceDatabase db;
    EXPECT_EQ(db.recordSize, 274u);
    EXPECT_EQ(std::wstring(db.path), testsupport::DatabasePath());
    EXPECT_FALSE(testsupport::DatabaseExists());
    EXPECT_EQ(db.CountRecords(), 0);
    EXPECT_TRUE(testsupport::DatabaseExists());
    EXPECT_EQ(ReadDatabaseBytes().size(), 0u);

    uint8_t addresses[3][6];
    memset(addresses, 0x77, sizeof(addresses));
    EXPECT_EQ(db.ReadAddresses(3, addresses), 0);
    for (auto& entry : addresses) {
        EXPECT_EQ(std::string(reinterpret_cast<char*>(entry), 6), std::string(6, '\0'));
    }
    uint8_t address[6] = {0, 0x0a, 0x95, 0, 0, 1};
    Found found = Find(address);
    EXPECT_EQ(found.result, DEVICE_RECORD_NOT_FOUND);
    EXPECT_EQ(found.name, "");
    EXPECT_EQ(found.control | found.data | found.third, 0);
    EXPECT_FALSE(db.DeleteRecord(address));
}

TEST_F(DeviceDatabaseTest, ATrailingPartialRecordCountsAsARecord) {
    std::vector<DeviceEntry> entries = Entries(3);
    std::string bytes = Concat(entries);
    ASSERT_TRUE(WriteDatabaseBytes(bytes.substr(0, 274 * 2 + 100)));
    DeviceDatabase db;
    EXPECT_EQ(db.CountRecords(), 3);
    uint8_t addresses[4][6];
    memset(addresses, 0x77, sizeof(addresses));
    EXPECT_EQ(db.ReadAddresses(4, addresses), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(memcmp(addresses[i], entries[i].address, 6), 0) << i;
    }
    EXPECT_EQ(std::string(reinterpret_cast<char*>(addresses[3]), 6), std::string(6, '\0'));

    // The partial record's missing fields read as empty, not as the previous record's.
    Found found = Find(entries[2].address);
    EXPECT_EQ(found.result, DEVICE_RECORD_FOUND);
    EXPECT_EQ(found.name, "Printer 3");
    EXPECT_EQ(found.control, 0);
    EXPECT_EQ(found.data, 0);
}

TEST_F(DeviceDatabaseTest, ReadAddressesFillsOnlyTheRoomGiven) {
    std::vector<DeviceEntry> entries = Entries(5);
    ASSERT_TRUE(WriteDatabase(entries));
    DeviceDatabase db;
    uint8_t addresses[5][6];
    memset(addresses, 0x77, sizeof(addresses));
    EXPECT_EQ(db.ReadAddresses(2, addresses), 5);
    EXPECT_EQ(memcmp(addresses[0], entries[0].address, 6), 0);
    EXPECT_EQ(memcmp(addresses[1], entries[1].address, 6), 0);
    EXPECT_EQ(addresses[2][0], 0x77); // beyond the room given: untouched

    ASSERT_TRUE(WriteDatabase(Entries(2)));
    memset(addresses, 0x77, sizeof(addresses));
    EXPECT_EQ(db.ReadAddresses(5, addresses), 2);
    EXPECT_EQ(memcmp(addresses[1], entries[1].address, 6), 0);
    for (int i = 2; i < 5; ++i) {
        EXPECT_EQ(std::string(reinterpret_cast<char*>(addresses[i]), 6), std::string(6, '\0'));
    }
    EXPECT_EQ(db.ReadAddresses(0, nullptr), 2);
}

TEST_F(DeviceDatabaseTest, FindRecordMatchesEitherCaseAndTheFirstRecordWins) {
    DeviceEntry first = MakeEntry(0xABCDEF, "First", 0x1001, 0x1003);
    first.thirdValue = 0x0042;
    DeviceEntry second = MakeEntry(0xABCDEF, "Second", 0x2001, 0x2003);
    ASSERT_TRUE(WriteDatabaseBytes(FormatRecord(MakeEntry(1, "Other")) + FormatRecord(first, true) +
                                   FormatRecord(second)));
    Found found = Find(first.address);
    EXPECT_EQ(found.result, DEVICE_RECORD_FOUND);
    EXPECT_EQ(found.name, "First");
    EXPECT_EQ(found.control, 0x1001);
    EXPECT_EQ(found.data, 0x1003);
    EXPECT_EQ(found.third, 0x0042);

    // Byte order is the file's: the reversed address is another device.
    uint8_t reversed[6];
    for (int i = 0; i < 6; ++i) {
        reversed[i] = first.address[5 - i];
    }
    std::string before = ReadDatabaseBytes();
    found = Find(reversed);
    EXPECT_EQ(found.result, DEVICE_RECORD_NOT_FOUND);
    EXPECT_EQ(found.name, "");
    EXPECT_EQ(found.control | found.data | found.third, 0);
    EXPECT_EQ(ReadDatabaseBytes(), before);
}

TEST_F(DeviceDatabaseTest, NamesLoseTrailingSpacesOnly) {
    DeviceEntry shortName = MakeEntry(1, "Printer");
    DeviceEntry fullName = MakeEntry(2, std::string(248, 'n'));
    DeviceEntry inner = MakeEntry(3, "Office, 2nd floor");
    ASSERT_TRUE(WriteDatabase({shortName, fullName, inner}));
    EXPECT_EQ(Find(shortName.address).name, "Printer");
    EXPECT_EQ(Find(fullName.address).name, std::string(247, 'n'));
    EXPECT_EQ(Find(inner.address).name, "Office, 2nd floor");
}

TEST_F(DeviceDatabaseTest, DeleteRecordMovesTheRestDownInOrder) {
    std::vector<DeviceEntry> entries = Entries(3);
    DeviceDatabase db;

    ASSERT_TRUE(WriteDatabase(entries));
    EXPECT_TRUE(db.DeleteRecord(entries[0].address));
    EXPECT_EQ(ReadDatabaseBytes(), Concat({entries[1], entries[2]}));
    EXPECT_EQ(ReadDatabaseBytes().size(), 548u);

    ASSERT_TRUE(WriteDatabase(entries));
    EXPECT_TRUE(db.DeleteRecord(entries[1].address));
    EXPECT_EQ(ReadDatabaseBytes(), Concat({entries[0], entries[2]}));

    ASSERT_TRUE(WriteDatabase(entries));
    EXPECT_TRUE(db.DeleteRecord(entries[2].address));
    EXPECT_EQ(ReadDatabaseBytes(), Concat({entries[0], entries[1]}));

    // Not there: FALSE and the file unchanged.
    ASSERT_TRUE(WriteDatabase(entries));
    DeviceEntry absent = MakeEntry(999, "Absent");
    EXPECT_FALSE(db.DeleteRecord(absent.address));
    EXPECT_EQ(ReadDatabaseBytes(), Concat(entries));
    // Deleting opens once and never waits.
    EXPECT_EQ(g_log.sleeps, 0);
}

TEST_F(DeviceDatabaseTest, DeleteRecordRemovesOnlyTheFirstMatchAndMovesPartialTails) {
    DeviceEntry a = MakeEntry(1, "A"), b = MakeEntry(2, "B"), dup = MakeEntry(1, "A again");
    std::string tail = FormatRecord(MakeEntry(3, "C")).substr(0, 100);
    ASSERT_TRUE(WriteDatabaseBytes(FormatRecord(a) + FormatRecord(b) + FormatRecord(dup) + tail));
    DeviceDatabase db;
    EXPECT_TRUE(db.DeleteRecord(a.address));
    EXPECT_EQ(ReadDatabaseBytes(), FormatRecord(b) + FormatRecord(dup) + tail);
    EXPECT_TRUE(db.DeleteRecord(a.address));
    EXPECT_EQ(ReadDatabaseBytes(), FormatRecord(b) + tail);
    // The partial record itself.
    EXPECT_TRUE(db.DeleteRecord(MakeEntry(3, "").address));
    EXPECT_EQ(ReadDatabaseBytes(), FormatRecord(b));
}

// A deletion that fails at any read or write (the read of the file, the copy's writes)
// leaves the file exactly as it was and says why, the copy gone.
TEST_F(DeviceDatabaseTest, AFailedDeletionLeavesTheFileAsItWas) {
    const std::vector<DeviceEntry> entries = Entries(5);
    struct Case {
        const char* what;
        int failReadAt;
        int failWritesFrom;
        bool failWritesAfter;
        bool partialWrite;
    };
    const Case cases[] = {
        {"the first read", 1, 0, false, false},
        {"the first write of the copy", 0, 1, false, false},
        {"the second write of the copy, half written", 0, 2, false, true},
        {"every write", 0, 1, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WriteDatabase(entries));
        g_log = CallLog();
        g_log.failReadAt = c.failReadAt;
        g_log.failWritesFrom = c.failWritesFrom;
        g_log.failWritesAfter = c.failWritesAfter;
        g_log.partialWrite = c.partialWrite;
        DeviceDatabase db;
        SetLastError(0);
        EXPECT_FALSE(db.DeleteRecord(entries[1].address));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
        EXPECT_EQ(ReadDatabaseBytes(), Concat(entries));
        EXPECT_EQ(GetFileAttributesW((testsupport::DatabasePath() + L".new").c_str()),
                  INVALID_FILE_ATTRIBUTES);
    }
    // Without a record of the address: 2, and the file untouched.
    g_log = CallLog();
    DeviceDatabase db;
    EXPECT_FALSE(db.DeleteRecord(MakeEntry(99, "").address));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(g_log.writes, 0);
}

namespace {

// Holds HCRPDB.txt open on a thread of its own for a while, like another program would.
struct Holder {
    DWORD access;
    DWORD share;
    DWORD holdMs; // INFINITE: until released
    HANDLE opened;
    HANDLE release;
    HANDLE thread;
};

DWORD WINAPI HolderThread(void* parameter) {
    auto* holder = static_cast<Holder*>(parameter);
    HANDLE file = CreateFileW(testsupport::DatabasePath().c_str(), holder->access, holder->share,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    SetEvent(holder->opened);
    WaitForSingleObject(holder->release, holder->holdMs);
    CloseHandle(file);
    return file == INVALID_HANDLE_VALUE ? 1 : 0;
}

void StartHolder(Holder* holder, DWORD access, DWORD share, DWORD holdMs) {
    holder->access = access;
    holder->share = share;
    holder->holdMs = holdMs;
    holder->opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    holder->release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    holder->thread = CreateThread(nullptr, 0, HolderThread, holder, 0, nullptr);
    WaitForSingleObject(holder->opened, INFINITE);
}

DWORD StopHolder(Holder* holder) {
    SetEvent(holder->release);
    WaitForSingleObject(holder->thread, INFINITE);
    DWORD code = 1;
    GetExitCodeThread(holder->thread, &code);
    CloseHandle(holder->thread);
    CloseHandle(holder->opened);
    CloseHandle(holder->release);
    return code;
}

} // namespace

TEST_F(DeviceDatabaseTest, ReadersRetryWhileAnotherHandleHoldsTheFile) {
    std::vector<DeviceEntry> entries = Entries(2);
    ASSERT_TRUE(WriteDatabase(entries));
    // Another reader that does not share writing: opens for writing fail until it lets go,
    // which it does right after the first failed attempt.
    Holder holder;
    StartHolder(&holder, GENERIC_READ, FILE_SHARE_READ, INFINITE);
    g_releaseHolder = holder.release;
    g_holderThread = holder.thread;
    DeviceDatabase db;
    EXPECT_EQ(db.CountRecords(), 2);
    EXPECT_EQ(g_log.opens, 2);
    EXPECT_EQ(g_log.sleeps, 1);
    EXPECT_EQ(StopHolder(&holder), 0u);

    // The same for a look-up.
    StartHolder(&holder, GENERIC_READ, FILE_SHARE_READ, INFINITE);
    g_releaseHolder = holder.release;
    g_holderThread = holder.thread;
    g_log = CallLog();
    Found found = Find(entries[1].address);
    EXPECT_EQ(found.result, DEVICE_RECORD_FOUND);
    EXPECT_EQ(found.name, "Printer 2");
    EXPECT_EQ(g_log.opens, 2);
    EXPECT_EQ(StopHolder(&holder), 0u);
}

TEST_F(DeviceDatabaseTest, ReadersGiveUpAfterThreeAttemptsAndSoDoesADeletion) {
    std::vector<DeviceEntry> entries = Entries(2);
    ASSERT_TRUE(WriteDatabase(entries));
    Holder holder;
    StartHolder(&holder, GENERIC_READ, FILE_SHARE_READ, INFINITE);
    DeviceDatabase db;

    EXPECT_EQ(db.CountRecords(), -1);
    EXPECT_EQ(g_log.opens, 3);
    EXPECT_EQ(g_log.sleeps, 3); // the third failed attempt is followed by a wait too

    g_log = CallLog();
    Found found = Find(entries[0].address);
    EXPECT_EQ(found.result, DEVICE_DATABASE_UNREADABLE);
    EXPECT_EQ(found.name, "");
    EXPECT_EQ(found.control | found.data | found.third, 0);
    EXPECT_EQ(g_log.opens, 3);

    // Reading addresses asks for read access only, which a read-sharing holder allows.
    g_log = CallLog();
    uint8_t addresses[2][6];
    EXPECT_EQ(db.ReadAddresses(2, addresses), 2);
    EXPECT_EQ(g_log.opens, 1);

    // A deletion reads past such a holder, but cannot put its copy in the file's place
    // while the file is held: it tries as the readers do, then gives up with the file as it
    // was.
    g_log = CallLog();
    EXPECT_FALSE(db.DeleteRecord(entries[0].address));
    EXPECT_EQ(g_log.sleeps, 3);
    EXPECT_EQ(StopHolder(&holder), 0u);
    EXPECT_EQ(ReadDatabaseBytes(), Concat(entries));

    // A holder that shares nothing keeps even the address reader out.
    StartHolder(&holder, GENERIC_READ, 0, INFINITE);
    g_log = CallLog();
    memset(addresses, 0x77, sizeof(addresses));
    EXPECT_EQ(db.ReadAddresses(2, addresses), -1);
    EXPECT_EQ(g_log.opens, 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(addresses), 12), std::string(12, '\0'));
    EXPECT_EQ(StopHolder(&holder), 0u);
}

TEST_F(DeviceDatabaseTest, BadContentIsReadWithoutHarm) {
    DeviceDatabase db;
    // Garbage: pseudo-random bytes, NULs included.
    std::string garbage(10000, '\0');
    uint32_t seed = 12345;
    for (char& c : garbage) {
        seed = seed * 1103515245 + 12345;
        c = static_cast<char>(seed >> 16);
    }
    ASSERT_TRUE(WriteDatabaseBytes(garbage));
    EXPECT_EQ(db.CountRecords(), 37); // 36 whole records and 136 bytes
    std::vector<uint8_t> addresses(37 * 6);
    EXPECT_EQ(db.ReadAddresses(37, reinterpret_cast<uint8_t(*)[6]>(addresses.data())), 37);
    uint8_t all[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    Find(all);
    EXPECT_EQ(ReadDatabaseBytes(), garbage);

    // All NULs: every address byte is empty text, 0; the name is empty.
    ASSERT_TRUE(WriteDatabaseBytes(std::string(274, '\0')));
    uint8_t zero[6] = {};
    Found found = Find(zero);
    EXPECT_EQ(found.result, DEVICE_RECORD_FOUND);
    EXPECT_EQ(found.name, "");
    EXPECT_EQ(found.control, 0);

    // Bad hexadecimal: the address reads as all ones in the bad bytes.
    std::string bad = FormatRecord(MakeEntry(1, "Bad"));
    bad.replace(0, 12, "zz0a95g00001");
    bad.replace(260, 4, "x001");
    ASSERT_TRUE(WriteDatabaseBytes(bad));
    uint8_t badAddress[6] = {0xFF, 0x0a, 0x95, 0xFF, 0x00, 0x01};
    found = Find(badAddress);
    EXPECT_EQ(found.result, DEVICE_RECORD_FOUND);
    EXPECT_EQ(found.name, "Bad");
    EXPECT_EQ(found.control, 0xFFFF);
    EXPECT_EQ(found.data, 0x1003);

    // One byte.
    ASSERT_TRUE(WriteDatabaseBytes("x"));
    EXPECT_EQ(db.CountRecords(), 1);
    // "x" is a bad pair (0xFF); the missing pairs are empty text (0).
    uint8_t oneByte[6] = {0xFF, 0, 0, 0, 0, 0};
    EXPECT_EQ(Find(oneByte).result, DEVICE_RECORD_FOUND);
    EXPECT_TRUE(db.DeleteRecord(oneByte));
    EXPECT_EQ(ReadDatabaseBytes().size(), 0u);
}

TEST_F(DeviceDatabaseTest, AHundredThousandRecords) {
    const int count = 100000;
    std::string bytes;
    bytes.reserve(static_cast<size_t>(count) * 274);
    for (int i = 0; i < count; ++i) {
        bytes += FormatRecord(MakeEntry(static_cast<uint32_t>(i), "P" + std::to_string(i)));
    }
    ASSERT_TRUE(WriteDatabaseBytes(bytes));
    DeviceDatabase db;
    EXPECT_EQ(db.CountRecords(), count);
    std::vector<uint8_t> addresses(static_cast<size_t>(count) * 6);
    EXPECT_EQ(db.ReadAddresses(count, reinterpret_cast<uint8_t(*)[6]>(addresses.data())), count);
    EXPECT_EQ(addresses[(count - 1) * 6 + 5], static_cast<uint8_t>(count - 1));
    Found found = Find(MakeEntry(count - 1, "").address);
    EXPECT_EQ(found.result, DEVICE_RECORD_FOUND);
    EXPECT_EQ(found.name, "P" + std::to_string(count - 1));
    EXPECT_TRUE(db.DeleteRecord(MakeEntry(0, "").address));
    std::string after = ReadDatabaseBytes();
    EXPECT_EQ(after.size(), bytes.size() - 274);
    EXPECT_TRUE(after == bytes.substr(274));
}
