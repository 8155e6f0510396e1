// The job path and the device-ID query where no Bluetooth stack can be bound (its process
// is not running), the printer-handle recovery up to the channel exchange, saved printer
// names of every length, and the lifetime of a record whose device-ID worker still runs.

#include <string>

#include "job_fixture.h"

namespace jobtest {
namespace {

constexpr DWORD kUntouched = 0xDEADBEEF;

class Offline : public MonitorFixture {};

TEST_F(Offline, StartDocPortFailsWith110WhenTheStackProcessIsNotRunning) {
    PortRecord* port = AddPort(L"00:11:22:33:44:55.1");
    ASSERT_NE(port, nullptr);
    spooler_.AddPrinter(L"Office", port->name);
    port->printerName = DuplicateWideString(L"left over");

    SetLastError(0);
    EXPECT_FALSE(StartDocPort(port, const_cast<wchar_t*>(L"Office"), 7, 1, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPEN_FAILED));
    EXPECT_EQ(port->printerName, nullptr);
    EXPECT_EQ(port->flags & PORT_DOC_STARTED, 0u);
    EXPECT_TRUE(spooler_.Opens().empty());
    EXPECT_EQ(g_stackBinding.module, nullptr);

    // Writes and reads fail without an error code of their own and send nothing.
    BYTE data[16] = {};
    DWORD written = 99;
    SetLastError(kUntouched);
    EXPECT_FALSE(WritePort(port, data, sizeof(data), &written));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(GetLastError(), kUntouched);
    DWORD read = 99;
    EXPECT_FALSE(ReadPort(port, data, sizeof(data), &read));
    EXPECT_EQ(read, 99u);
    EXPECT_EQ(GetLastError(), kUntouched);

    // Nothing started, nothing to end; closing with no stack bound touches nothing.
    EXPECT_TRUE(EndDocPort(port));
    EXPECT_TRUE(spooler_.JobCommands().empty());
    EXPECT_TRUE(spooler_.StatusPosts().empty());
}

TEST_F(Offline, BadHandlesAndArgumentsGetClearErrors) {
    // Handles that are no port of the monitor: null, memory that looks like a record but was
    // never handed out, and a record already freed. None of them is read.
    alignas(PortRecord) BYTE lookalike[sizeof(PortRecord)] = {};
    reinterpret_cast<PortRecord*>(lookalike)->signature = PORT_RECORD_SIGNATURE;
    PortRecord* freed = AddPort(L"00:11:22:33:44:66.1");
    ASSERT_NE(freed, nullptr);
    {
        MonitorLockGuard lock;
        ASSERT_TRUE(DeletePortRecord(monitor_, freed));
        ASSERT_EQ(monitor_->retiredPorts, nullptr); // nothing held it: freed at once
    }
    for (HANDLE handle : {static_cast<HANDLE>(nullptr), static_cast<HANDLE>(lookalike),
                          static_cast<HANDLE>(freed)}) {
        SCOPED_TRACE(testing::Message() << "handle " << handle);
        SetLastError(0);
        EXPECT_FALSE(StartDocPort(handle, const_cast<wchar_t*>(L"Office"), 1, 1, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        DWORD count = 5;
        SetLastError(0);
        EXPECT_FALSE(WritePort(handle, nullptr, 0, &count));
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(0);
        EXPECT_FALSE(ReadPort(handle, nullptr, 0, &count));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(0);
        EXPECT_FALSE(EndDocPort(handle));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        char out[16];
        SetLastError(0);
        EXPECT_FALSE(GetPrinterDataFromPort(handle, IOCTL_PAR_QUERY_DEVICE_ID, nullptr, nullptr, 0,
                                            reinterpret_cast<LPWSTR>(out), sizeof(out), &count));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_TRUE(ClosePort(handle));
    }
    EXPECT_EQ(reinterpret_cast<PortRecord*>(lookalike)->callCount, 0);

    DWORD count = 5;
    PortRecord* port = AddPort(L"00:11:22:33:44:55.1");
    ASSERT_NE(port, nullptr);
    EXPECT_FALSE(WritePort(port, nullptr, 10, &count));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(ReadPort(port, nullptr, 10, &count));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    // The device-ID entry: by value name, null port, other control codes.
    char out[64];
    DWORD returned = kUntouched;
    EXPECT_FALSE(GetPrinterDataFromPort(port, 0, nullptr, nullptr, 0, reinterpret_cast<LPWSTR>(out),
                                        sizeof(out), &returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(GetPrinterDataFromPort(nullptr, IOCTL_PAR_QUERY_DEVICE_ID, nullptr, nullptr, 0,
                                        reinterpret_cast<LPWSTR>(out), sizeof(out), &returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(GetPrinterDataFromPort(port, 0x160010, nullptr, nullptr, 0,
                                       reinterpret_cast<LPWSTR>(out), sizeof(out), &returned));
    EXPECT_EQ(returned, kUntouched);
    EXPECT_EQ(port->deviceIdThread, nullptr);

    // ResetPortJob refuses a null port and a port with no channel open.
    port->status.printerHandleError = ERROR_INVALID_HANDLE;
    EXPECT_FALSE(ResetPortJob(nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(ResetPortJob(port));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(port->status.printerHandleError, ERROR_INVALID_HANDLE);
}

// One request while the worker cannot run yet (the test holds the port's exchange lock), a second
// that must not start another, then the ended worker's handle closed without a new worker, then a
// new worker.
TEST_F(Offline, DeviceIdWorkerIsStartedOncePerPortAtATime) {
    PortRecord* port = AddPort(L"00:11:22:33:44:55.1");
    ASSERT_NE(port, nullptr);
    char out[300];
    auto request = [&](DWORD* returned) {
        *returned = kUntouched;
        SetLastError(0);
        return GetPrinterDataFromPort(port, IOCTL_PAR_QUERY_DEVICE_ID, nullptr, nullptr, 0,
                                      reinterpret_cast<LPWSTR>(out), sizeof(out), returned);
    };
    DWORD returned = 0;
    HANDLE first = nullptr;
    {
        ExchangeLock exchange(port->connection);
        EXPECT_FALSE(request(&returned));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
        EXPECT_EQ(returned, 0u);
        first = port->deviceIdThread;
        ASSERT_NE(first, nullptr);
        EXPECT_FALSE(request(&returned));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
        EXPECT_EQ(port->deviceIdThread, first);
        EXPECT_EQ(WaitForSingleObject(first, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    }
    ASSERT_EQ(WaitForSingleObject(first, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    // The worker could not bind the stack: no cache was made.
    EXPECT_EQ(port->deviceId, nullptr);

    EXPECT_FALSE(request(&returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_EQ(port->deviceIdThread, nullptr);

    EXPECT_FALSE(request(&returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    ASSERT_NE(port->deviceIdThread, nullptr);
    EXPECT_EQ(WaitForSingleObject(port->deviceIdThread, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
}

TEST_F(Offline, RecordOfARunningWorkerIsRetiredNotFreed) {
    PortRecord* port = AddPort(L"00:11:22:33:44:55.1");
    ASSERT_NE(port, nullptr);
    char out[64];
    DWORD returned = 0;
    HANDLE worker = nullptr;
    {
        ExchangeLock exchange(port->connection);
        MonitorLockGuard lock;
        EXPECT_FALSE(GetPrinterDataFromPort(port, IOCTL_PAR_QUERY_DEVICE_ID, nullptr, nullptr, 0,
                                            reinterpret_cast<LPWSTR>(out), sizeof(out), &returned));
        ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), port->deviceIdThread, GetCurrentProcess(),
                                    &worker, 0, FALSE, DUPLICATE_SAME_ACCESS));
        // The port is deleted while its worker waits for the port.
        EXPECT_TRUE(DeletePortRecord(monitor_, port));
        EXPECT_EQ(monitor_->ports, nullptr);
        EXPECT_EQ(monitor_->retiredPorts, port);
        EXPECT_EQ(port->retired, 1u);
        EXPECT_EQ(port->signature, PORT_RECORD_SIGNATURE);
    }
    ASSERT_EQ(WaitForSingleObject(worker, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(worker);
    MonitorLockGuard lock;
    ReclaimRetiredPorts(monitor_);
    EXPECT_EQ(monitor_->retiredPorts, nullptr);
}

TEST_F(Offline, ClosePortGivesBackTheSpoolersHoldOnARetiredRecord) {
    PortRecord* port = AddPort(L"00:11:22:33:44:55.1");
    ASSERT_NE(port, nullptr);
    AcquirePortHandle(port);
    {
        MonitorLockGuard lock;
        EXPECT_TRUE(DeletePortRecord(monitor_, port));
        EXPECT_EQ(monitor_->retiredPorts, port);
    }
    EXPECT_TRUE(ClosePort(port));
    EXPECT_EQ(monitor_->retiredPorts, nullptr);
}

// The handle-recovery path up to the line-status exchange: a closed printer handle is
// answered with 6, the printer is re-opened by the name StartDocPort saved.
class SavedPrinterName : public Offline, public ::testing::WithParamInterface<size_t> {};

TEST_P(SavedPrinterName, ReopensByTheWholeNameOrNotAtAll) {
    size_t length = GetParam();
    std::wstring name(length, L'p');
    for (size_t i = 0; i < length; ++i) {
        name[i] = static_cast<wchar_t>(L'a' + i % 26);
    }
    PortRecord* port = AddPort(L"00:11:22:33:44:55.1");
    ASSERT_NE(port, nullptr);
    spooler_.AddPrinter(name, port->name);
    SavePrinterName(port, name.c_str());
    port->printer = reinterpret_cast<HANDLE>(0x77); // closed long ago

    ExchangeLock exchange(port->connection);
    EXPECT_FALSE(UpdatePortStatus(port));
    std::vector<OpenCall> opens = spooler_.Opens();
    if (length < SAVED_PRINTER_NAME_LENGTH) {
        ASSERT_EQ(opens.size(), 1u);
        EXPECT_EQ(opens[0].name, name);
        EXPECT_TRUE(opens[0].succeeded);
        EXPECT_EQ(port->printer, opens[0].handle);
        ASSERT_NE(port->printerName, nullptr);
        EXPECT_EQ(std::wstring(port->printerName), name);
        EXPECT_EQ(port->status.printerHandleError, ERROR_INVALID_HANDLE);
        // The printer record was fetched on the new handle; no channel, so nothing posted.
        ASSERT_NE(port->status.printerInfo, nullptr);
        EXPECT_EQ(std::wstring(port->status.printerInfo->pPortName), port->name);
    } else {
        // Too long to keep whole: not kept, so no re-open by a cut name.
        EXPECT_TRUE(opens.empty());
        EXPECT_EQ(port->status.savedPrinterName[0], L'\0');
        EXPECT_EQ(port->printer, nullptr);
        EXPECT_EQ(port->status.printerHandleError, 0);
    }
    EXPECT_TRUE(spooler_.StatusPosts().empty());
    g_spoolerClient.closePrinter(port->printer);
    port->printer = nullptr;
}

INSTANTIATE_TEST_SUITE_P(Lengths, SavedPrinterName,
                         ::testing::Values(1, 63, 64, 65, 200, SAVED_PRINTER_NAME_LENGTH - 1,
                                           SAVED_PRINTER_NAME_LENGTH, 4000));

TEST_F(Offline, ReopenThatFailsClearsTheMark) {
    PortRecord* port = AddPort(L"00:11:22:33:44:55.1");
    ASSERT_NE(port, nullptr);
    SavePrinterName(port, L"Gone"); // the spooler no longer knows it
    port->printer = reinterpret_cast<HANDLE>(0x77);
    ExchangeLock exchange(port->connection);
    EXPECT_FALSE(UpdatePortStatus(port));
    EXPECT_EQ(port->printer, nullptr);
    EXPECT_EQ(port->status.printerHandleError, 0);
    EXPECT_EQ(port->status.printerInfo, nullptr);
    ASSERT_NE(port->printerName, nullptr);
    EXPECT_EQ(std::wstring(port->printerName), L"Gone");
}

} // namespace
} // namespace jobtest
