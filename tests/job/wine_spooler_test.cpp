// One job against Wine's own spooler for OpenPrinterW, GetPrinterW, SetJobW and
// ClosePrinter, with a printer added to the test prefix on a port of this monitor. SetPortW
// stays recorded: Wine has none.

#include "sim_fixture.h"
#include "support/spooler_monitor.h"

namespace jobtest {
namespace {

class WineSpooler : public SimJob {
  protected:
    void SetUp() override {
        SimJob::SetUp();
        spooler_.UseRealPrinters();
        std::string error;
        ASSERT_TRUE(testsupport::RegisterMonitor(&error)) << error;
        wchar_t system[MAX_PATH] = {};
        GetSystemDirectoryW(system, MAX_PATH);
        std::wstring driverFile = std::wstring(system) + L"\\wineps.drv";
        DRIVER_INFO_3W driver = {};
        driver.cVersion = 3;
        driver.pName = const_cast<wchar_t*>(L"Prnlink Job Test Driver");
        driver.pDriverPath = &driverFile[0];
        driver.pDataFile = &driverFile[0];
        driver.pConfigFile = &driverFile[0];
        ASSERT_TRUE(
            AddPrinterDriverExW(nullptr, 3, reinterpret_cast<LPBYTE>(&driver), APD_COPY_NEW_FILES));
        PRINTER_INFO_2W info = {};
        info.pPrinterName = const_cast<wchar_t*>(kWinePrinter);
        info.pPortName = const_cast<wchar_t*>(kPortName);
        info.pDriverName = driver.pName;
        info.pPrintProcessor = const_cast<wchar_t*>(L"winprint");
        info.pDatatype = const_cast<wchar_t*>(L"RAW");
        added_ = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
        ASSERT_NE(added_, nullptr) << GetLastError();
    }
    void TearDown() override {
        if (added_ != nullptr) {
            DeletePrinter(added_);
            ClosePrinter(added_);
        }
        testsupport::UnregisterMonitor();
        SimJob::TearDown();
    }
    static constexpr const wchar_t* kWinePrinter = L"Prnlink Job Test Printer";
    HANDLE added_ = nullptr;
};

TEST_F(WineSpooler, JobThenHandleRecoveryWithWinesPrinterCalls) {
    const std::vector<uint8_t> job = JobBytes(64 * 1024, 11);
    ASSERT_TRUE(StartDocPort(port_, const_cast<wchar_t*>(kWinePrinter), 1, 1, nullptr));
    ASSERT_NE(port_->printer, nullptr);
    // Wine's printer record names our port.
    ASSERT_NE(port_->status.printerInfo, nullptr);
    EXPECT_EQ(std::wstring(port_->status.printerInfo->pPortName), kPortName);
    ASSERT_TRUE(SpoolerWrite(port_, job, 4096));
    ASSERT_TRUE(EndDocPort(port_));
    EXPECT_TRUE(printer_.Sink() == job);
    EXPECT_EQ(LastPost().portName, kPortName);
    EXPECT_EQ(LastPost().severity, 0u);

    // Wine answers the closed (forgotten) handle with 6: re-opened by name, then reset.
    ASSERT_TRUE(SpoolerWrite(port_, job, 4096));
    EXPECT_EQ(port_->status.printerHandleError, ERROR_INVALID_HANDLE);
    ASSERT_NE(port_->printer, nullptr);
    ASSERT_NE(port_->printerName, nullptr);
    EXPECT_EQ(std::wstring(port_->printerName), kWinePrinter);
    BYTE back[16];
    DWORD read = 0;
    ReadPort(port_, back, sizeof(back), &read);
    EXPECT_EQ(port_->status.printerHandleError, 0);
    EXPECT_EQ(port_->connection.channelFlags, 0);
    EXPECT_EQ(port_->printer, nullptr);
    EXPECT_EQ(g_stackBinding.module, nullptr);
}

} // namespace
} // namespace jobtest
