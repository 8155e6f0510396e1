// QUILLDLG.dll as Windows uses it: PRNLINK.DLL registered with the prefix's spooler, whose
// ConfigurePortW and AddPortW ask the monitor's "MonitorUI" and load the library named
// there; a second thread fills in and presses the dialogs. DeletePortW in Wine calls the
// monitor's own DeletePort, so the Delete Port dialog is reached by loading the library
// as Windows' spooler client does. After each, the registry, the profile, the port list
// and HCRPDB.txt are read back.

#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include <string>
#include <vector>

#include "dialog_driver.h"
#include "import_patch.h"
#include "port_ui_text.h"
#include "resource_ids.h"
#include "support/hcrpdb_writer.h"
#include "support/spooler_monitor.h"
#include "support/spooler_state.h"

namespace {

using testsupport::DialogDriver;
using testsupport::DrivenCall;
using testsupport::ProfileHas;
using testsupport::RegistryRetryText;
using testsupport::RunDriven;
using testsupport::SpoolerHas;

const std::wstring kCaption = L"Bluetooth Printer Port";
const std::wstring kAddTitle = L"Add Bluetooth Printer Port";

// 00:0a:95:00:00:0N, and its port name with channel 1.
testsupport::DeviceEntry Printer(uint32_t n, const char* name) {
    return testsupport::MakeEntry(n, name);
}
std::wstring AddressPort(int n) {
    return L"00:0a:95:00:00:0" + std::to_wstring(n) + L".1";
}

bool Contains(const std::wstring& text, const std::wstring& part) {
    return text.find(part) != std::wstring::npos;
}

void ExpectNoFailures(const DrivenCall& call) {
    for (const std::string& failure : call.failures) {
        ADD_FAILURE() << failure;
    }
}

// Presses OK on the message box that must come now, after checking it says `part`.
void AcknowledgeMessage(DialogDriver& driver, const std::wstring& part) {
    HWND box = driver.Await(kCaption);
    if (box == nullptr) {
        return;
    }
    std::wstring text = driver.MessageText(box);
    if (!Contains(text, part)) {
        driver.Fail("the message does not say \"" + std::string(part.begin(), part.end()) + "\"");
    }
    driver.Press(box, IDOK);
    driver.AwaitClosed(box);
}

class PortDialogs : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        std::string error;
        registered_ = testsupport::RegisterMonitor(&error);
        ASSERT_TRUE(registered_) << error;
        // The owner a printer's Ports tab would pass.
        owner_ = CreateWindowExW(0, L"STATIC", L"Printer Properties", WS_OVERLAPPEDWINDOW, 0, 0,
                                 400, 300, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(owner_, nullptr);
        // The same module the spooler's client loads by name, so that a test can rebind
        // its imports; the library is found in the test program's folder first.
        library_ = LoadLibraryW(L"QUILLDLG.dll");
        ASSERT_NE(library_, nullptr);
        auto initialize = reinterpret_cast<PMONITORUI(WINAPI*)()>(
            reinterpret_cast<void*>(GetProcAddress(library_, "InitializePrintMonitorUI")));
        ASSERT_NE(initialize, nullptr);
        ui_ = initialize();
        ASSERT_NE(ui_, nullptr);
    }
    static void TearDownTestSuite() {
        DestroyWindow(owner_);
        testsupport::WriteDatabase({});
        WriteProfileStringW(L"QuillPorts", nullptr, nullptr);
        testsupport::UnregisterMonitor();
    }

    void SetUp() override {
        ASSERT_TRUE(registered_);
        ASSERT_TRUE(testsupport::WriteDatabase({Printer(1, "Office Printer")}));
        WriteProfileStringW(L"QuillPorts", nullptr, nullptr);
        testsupport::DeleteRegistryRetryValue();
        // The monitor stays loaded while a channel is open, and keeps its port list.
        const ACCESS_MASK administer = SERVER_ACCESS_ADMINISTER;
        xcv_ = testsupport::OpenMonitorXcv(&administer);
        ASSERT_NE(xcv_, nullptr) << GetLastError();
        ASSERT_TRUE(SpoolerHas(L"Office Printer"));
        ASSERT_TRUE(testsupport::RegisterPortKey(L"Office Printer"));
    }
    void TearDown() override { ClosePrinter(xcv_); }

    DWORD Xcv(const wchar_t* command, const std::wstring& text) {
        DWORD needed = 0;
        DWORD status = 0xDEAD;
        XcvDataW(xcv_, command, reinterpret_cast<BYTE*>(const_cast<wchar_t*>(text.c_str())),
                 static_cast<DWORD>((text.size() + 1) * 2), nullptr, 0, &needed, &status);
        return status;
    }
    DWORD RetryTimeoutMs() {
        DWORD ms = 0;
        DWORD needed = 0;
        DWORD status = 0;
        XcvDataW(xcv_, L"GetTransmissionRetryTimeout", nullptr, 0, reinterpret_cast<BYTE*>(&ms), 4,
                 &needed, &status);
        return ms;
    }
    // A port added by address that stays: the database lists its printer from now on
    // (listed before, the printer would have had a port of its own name, which takes the
    // address first).
    void AddAddressPort(int n, const char* printer) {
        ASSERT_EQ(Xcv(L"AddPort", AddressPort(n)), 0u);
        ASSERT_TRUE(testsupport::RegisterPortKey(AddressPort(n)));
        ASSERT_TRUE(
            testsupport::WriteDatabase({Printer(1, "Office Printer"), Printer(n, printer)}));
    }

    static bool registered_;
    static HWND owner_;
    static HMODULE library_;
    static PMONITORUI ui_;
    HANDLE xcv_ = nullptr;
};
bool PortDialogs::registered_;
HWND PortDialogs::owner_;
HMODULE PortDialogs::library_;
PMONITORUI PortDialogs::ui_;

TEST_F(PortDialogs, TableHasTheLayoutOfThisArchitecture) {
    EXPECT_EQ(ui_->dwMonitorUISize, sizeof(MONITORUI));
    EXPECT_EQ(sizeof(MONITORUI), 4 * sizeof(void*));
    EXPECT_NE(ui_->pfnAddPortUI, nullptr);
    EXPECT_NE(ui_->pfnConfigurePortUI, nullptr);
    EXPECT_NE(ui_->pfnDeletePortUI, nullptr);
}

// ConfigurePortW: the address from the name, the time-out from the monitor, each refused
// value named with the range and sent nowhere, then Enter stores the new value.
TEST_F(PortDialogs, ConfigurePortShowsAndStoresTheTimeout) {
    AddAddressPort(2, "Second");
    std::wstring port = AddressPort(2);
    DrivenCall call = RunDriven(
        [&] { return ConfigurePortW(nullptr, owner_, &port[0]); },
        [&](DialogDriver& d) {
            HWND dialog = d.Await(L"Configure Port " + port);
            if (dialog == nullptr) {
                return;
            }
            if (GetWindow(dialog, GW_OWNER) != owner_) {
                d.Fail("the dialog is not owned by the caller's window");
            }
            if (d.Text(dialog, IDC_PORT_NAME) != port ||
                d.Text(dialog, IDC_ADDRESS) != L"00:0a:95:00:00:02" ||
                d.Text(dialog, IDC_RETRY_TIMEOUT) != L"45") {
                d.Fail("port, address or time-out not shown as expected");
            }
            // The mnemonics move the focus: Alt+A to the address, Alt+R back.
            d.AltKey(dialog, L'a');
            Sleep(200);
            if (d.Focus(dialog) != GetDlgItem(dialog, IDC_ADDRESS)) {
                d.Fail("Alt+A did not reach the address");
            }
            d.AltKey(dialog, L'r');
            Sleep(200);
            if (d.Focus(dialog) != GetDlgItem(dialog, IDC_RETRY_TIMEOUT)) {
                d.Fail("Alt+R did not reach the time-out");
            }
            for (const wchar_t* refused : {L"abc", L"-5", L"0", L"4294968", L"", L"1.5"}) {
                d.SetText(dialog, IDC_RETRY_TIMEOUT, refused);
                d.Press(dialog, IDOK);
                AcknowledgeMessage(d, L"retry time-out must be a whole number of seconds from "
                                      L"1 to 4294967");
                if (RegistryRetryText() != L"45") {
                    d.Fail("a refused value reached the registry");
                }
            }
            d.SetText(dialog, IDC_RETRY_TIMEOUT, L" 90 ");
            d.Key(dialog, IDC_RETRY_TIMEOUT, VK_RETURN);
        });
    ExpectNoFailures(call);
    EXPECT_TRUE(call.result) << call.error;
    EXPECT_EQ(RegistryRetryText(), L"90");
    EXPECT_EQ(RetryTimeoutMs(), 90000u);
}

// A port named after its printer shows no address; Esc, and the Cancel button, change
// nothing. The server may be this computer by name.
TEST_F(PortDialogs, ConfigurePortCancelledChangesNothing) {
    ASSERT_EQ(Xcv(L"ConfigurePortCommandOK", L"30"), 0u);
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    ASSERT_TRUE(GetComputerNameW(computer, &size));
    std::wstring server = std::wstring(L"\\\\") + computer;
    for (bool escape : {true, false}) {
        DrivenCall call = RunDriven(
            [&] { return ui_->pfnConfigurePortUI(server.c_str(), owner_, L"Office Printer"); },
            [&](DialogDriver& d) {
                HWND dialog = d.Await(L"Configure Port Office Printer");
                if (d.Text(dialog, IDC_ADDRESS) != L"(not part of the port name)" ||
                    d.Text(dialog, IDC_RETRY_TIMEOUT) != L"30") {
                    d.Fail("address or time-out not shown as expected");
                }
                d.SetText(dialog, IDC_RETRY_TIMEOUT, L"600");
                if (escape) {
                    d.Key(dialog, IDC_RETRY_TIMEOUT, VK_ESCAPE);
                } else {
                    d.Press(dialog, IDCANCEL);
                }
            });
        ExpectNoFailures(call);
        EXPECT_FALSE(call.result);
        EXPECT_EQ(call.error, DWORD{ERROR_CANCELLED});
        EXPECT_EQ(RegistryRetryText(), L"30");
    }
}

// AddPortW: a name that is not an address and a name the spooler has are refused in the
// dialog; an address is added, and stays while the database lists its printer.
TEST_F(PortDialogs, AddPortChecksTheNameAndAddsIt) {
    AddAddressPort(2, "Second");
    std::wstring monitor = testsupport::kMonitorName;
    DrivenCall call = RunDriven(
        [&] { return AddPortW(nullptr, owner_, &monitor[0]); },
        [&](DialogDriver& d) {
            HWND dialog = d.Await(kAddTitle);
            if (dialog == nullptr) {
                return;
            }
            if (GetWindow(dialog, GW_OWNER) != owner_ ||
                !Contains(d.Text(dialog, IDC_EXPLANATION),
                          L"stays only while the device database lists the printer's address")) {
                d.Fail("owner or explanation not as expected");
            }
            d.SetText(dialog, IDC_NEW_PORT_NAME, L"00:0a:95:00:00");
            d.Press(dialog, IDOK);
            AcknowledgeMessage(d, L"\"00:0a:95:00:00\" is not a Bluetooth address");
            d.SetText(dialog, IDC_NEW_PORT_NAME, L"00:0A:95:00:00:02.1");
            d.Press(dialog, IDOK);
            AcknowledgeMessage(d, L"already exists");
            d.SetText(dialog, IDC_NEW_PORT_NAME, AddressPort(3));
            d.Press(dialog, IDOK);
        });
    ExpectNoFailures(call);
    EXPECT_TRUE(call.result) << call.error;
    EXPECT_TRUE(ProfileHas(AddressPort(3).c_str()));
    EXPECT_FALSE(ProfileHas(L"00:0a:95:00:00"));
    // Discovery lists the printer before the next enumeration: the port stays.
    testsupport::WriteDatabase(
        {Printer(1, "Office Printer"), Printer(2, "Second"), Printer(3, "Third")});
    EXPECT_TRUE(SpoolerHas(AddressPort(3))) << "listed under the name it was added by";
    EXPECT_FALSE(SpoolerHas(L"Third"));
    testsupport::WriteDatabase({Printer(1, "Office Printer"), Printer(2, "Second")});
    EXPECT_FALSE(SpoolerHas(AddressPort(3))) << "gone with its printer";
}

TEST_F(PortDialogs, AddPortCancelledAddsNothing) {
    std::wstring monitor = testsupport::kMonitorName;
    std::vector<std::wstring> before = testsupport::SpoolerPorts();
    DrivenCall call = RunDriven([&] { return AddPortW(nullptr, owner_, &monitor[0]); },
                                [&](DialogDriver& d) {
                                    HWND dialog = d.Await(kAddTitle);
                                    d.SetText(dialog, IDC_NEW_PORT_NAME, AddressPort(5));
                                    d.Key(dialog, IDC_NEW_PORT_NAME, VK_ESCAPE);
                                });
    ExpectNoFailures(call);
    EXPECT_FALSE(call.result);
    EXPECT_EQ(call.error, DWORD{ERROR_CANCELLED});
    EXPECT_FALSE(ProfileHas(AddressPort(5).c_str()));
    EXPECT_EQ(testsupport::SpoolerPorts(), before);
}

// The name of the added port comes back to a caller that asks for it, allocated for
// LocalFree.
TEST_F(PortDialogs, AddPortHandsTheNewNameBack) {
    PWSTR added = nullptr;
    DrivenCall call = RunDriven(
        [&] { return ui_->pfnAddPortUI(nullptr, owner_, testsupport::kMonitorName, &added); },
        [&](DialogDriver& d) {
            HWND dialog = d.Await(kAddTitle);
            d.SetText(dialog, IDC_NEW_PORT_NAME, L"  " + AddressPort(6));
            d.Press(dialog, IDOK);
        });
    ExpectNoFailures(call);
    ASSERT_TRUE(call.result) << call.error;
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(std::wstring(added), AddressPort(6));
    EXPECT_EQ(LocalFree(added), nullptr);
}

// Delete Port asks first: No keeps the port, Yes deletes it from the list and the profile,
// and a second attempt says that the port is gone (2).
TEST_F(PortDialogs, DeletePortAsksAndDeletes) {
    AddAddressPort(7, "Seventh");
    std::wstring port = AddressPort(7);
    ASSERT_TRUE(SpoolerHas(port));
    struct Step {
        int button;
        BOOL result;
        DWORD error;
        bool portAfter;
    };
    for (const Step& step : {Step{IDNO, FALSE, ERROR_CANCELLED, true}, Step{IDYES, TRUE, 0, false},
                             Step{IDYES, FALSE, ERROR_FILE_NOT_FOUND, false}}) {
        DrivenCall call =
            RunDriven([&] { return ui_->pfnDeletePortUI(nullptr, owner_, port.c_str()); },
                      [&](DialogDriver& d) {
                          HWND box = d.Await(kCaption);
                          if (!Contains(d.MessageText(box), L"Delete the port " + port + L"?")) {
                              d.Fail("the question does not name the port");
                          }
                          d.Press(box, step.button);
                          d.AwaitClosed(box);
                          if (step.error == ERROR_FILE_NOT_FOUND) {
                              AcknowledgeMessage(d, L"does not exist any more");
                          }
                      });
        ExpectNoFailures(call);
        EXPECT_EQ(call.result, step.result);
        EXPECT_EQ(call.error, step.error);
        EXPECT_EQ(SpoolerHas(port), step.portAfter);
        EXPECT_EQ(ProfileHas(port.c_str()), step.portAfter);
    }
}

// --- The spooler refusing the administrator's right, and a channel closed under the
// dialog: both said as such, nothing changed. ---
BOOL WINAPI OpenPrinterDenied(LPWSTR, LPHANDLE, LPPRINTER_DEFAULTSW) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

decltype(&XcvDataW) g_realXcvData = nullptr;
BOOL WINAPI XcvDataClosingFirst(HANDLE handle, PCWSTR command, PBYTE input, DWORD inputSize,
                                PBYTE output, DWORD outputSize, PDWORD needed, PDWORD status) {
    if (wcscmp(command, L"ConfigurePortCommandOK") == 0) {
        ClosePrinter(handle);
    }
    return g_realXcvData(handle, command, input, inputSize, output, outputSize, needed, status);
}

class Rebound {
  public:
    Rebound(HMODULE module, const char* function, void* replacement)
        : module_(module), function_(function) {
        ok_ = prnlink::PatchImport(module, "winspool.drv", function, replacement, &original_);
    }
    ~Rebound() {
        if (ok_) {
            prnlink::PatchImport(module_, "winspool.drv", function_, original_, nullptr);
        }
    }
    bool ok() const { return ok_; }
    void* original() const { return original_; }

  private:
    HMODULE module_;
    const char* function_;
    void* original_ = nullptr;
    bool ok_ = false;
};

TEST_F(PortDialogs, AccessDeniedIsSaidAsSuch) {
    std::wstring before = RegistryRetryText();
    Rebound denied(library_, "OpenPrinterW", reinterpret_cast<void*>(OpenPrinterDenied));
    ASSERT_TRUE(denied.ok());
    std::wstring monitor = testsupport::kMonitorName;
    const std::function<BOOL()> calls[] = {
        [&] { return ConfigurePortW(nullptr, owner_, const_cast<LPWSTR>(L"Office Printer")); },
        [&] { return AddPortW(nullptr, owner_, &monitor[0]); },
        [&] { return ui_->pfnDeletePortUI(nullptr, owner_, L"Office Printer"); },
    };
    for (const auto& operation : calls) {
        DrivenCall call = RunDriven(operation, [](DialogDriver& d) {
            AcknowledgeMessage(d, L"You need the administrator's right to");
        });
        ExpectNoFailures(call);
        EXPECT_FALSE(call.result);
        EXPECT_EQ(call.error, DWORD{ERROR_ACCESS_DENIED});
    }
    EXPECT_EQ(RegistryRetryText(), before);
    EXPECT_TRUE(SpoolerHas(L"Office Printer"));
    EXPECT_EQ(testsupport::ReadDatabaseBytes().size(), 274u);
}

TEST_F(PortDialogs, ClosedChannelIsSaidAndChangesNothing) {
    ASSERT_EQ(Xcv(L"ConfigurePortCommandOK", L"45"), 0u);
    Rebound closing(library_, "XcvDataW", reinterpret_cast<void*>(XcvDataClosingFirst));
    ASSERT_TRUE(closing.ok());
    g_realXcvData = reinterpret_cast<decltype(&XcvDataW)>(closing.original());
    DrivenCall call = RunDriven(
        [&] { return ConfigurePortW(nullptr, owner_, const_cast<LPWSTR>(L"Office Printer")); },
        [](DialogDriver& d) {
            HWND dialog = d.Await(L"Configure Port Office Printer");
            d.SetText(dialog, IDC_RETRY_TIMEOUT, L"120");
            d.Press(dialog, IDOK);
            AcknowledgeMessage(d, L"closed its configuration channel");
        });
    ExpectNoFailures(call);
    EXPECT_FALSE(call.result);
    EXPECT_EQ(call.error, DWORD{ERROR_INVALID_HANDLE});
    EXPECT_EQ(RegistryRetryText(), L"45");
}

// Calls that cannot be served get their code at once, with no dialog, and change nothing.
TEST_F(PortDialogs, BadCallsGetTheirCodeAndChangeNothing) {
    ASSERT_EQ(Xcv(L"ConfigurePortCommandOK", L"45"), 0u);
    const std::wstring longName(248, L'p');
    HWND gone =
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    DestroyWindow(gone);
    struct Case {
        const char* what;
        std::function<BOOL()> call;
        DWORD error;
    };
    const Case cases[] = {
        {"another server",
         [&] { return ui_->pfnConfigurePortUI(L"\\\\ELSEWHERE", owner_, L"Office Printer"); },
         ERROR_NOT_SUPPORTED},
        {"another server, add",
         [&] {
             return ui_->pfnAddPortUI(L"\\\\ELSEWHERE", owner_, testsupport::kMonitorName, nullptr);
         },
         ERROR_NOT_SUPPORTED},
        {"no port name", [&] { return ui_->pfnConfigurePortUI(nullptr, owner_, nullptr); },
         ERROR_INVALID_PARAMETER},
        {"empty port name", [&] { return ui_->pfnDeletePortUI(nullptr, owner_, L""); },
         ERROR_INVALID_PARAMETER},
        {"248 characters",
         [&] { return ui_->pfnConfigurePortUI(nullptr, owner_, longName.c_str()); },
         ERROR_INVALID_NAME},
        {"another monitor's port",
         [&] { return ui_->pfnConfigurePortUI(nullptr, owner_, L"LPT1:"); }, ERROR_UNKNOWN_PORT},
        {"no such port", [&] { return ui_->pfnDeletePortUI(nullptr, owner_, L"Nowhere"); },
         ERROR_UNKNOWN_PORT},
        {"no window", [&] { return ui_->pfnConfigurePortUI(nullptr, nullptr, L"Office Printer"); },
         ERROR_INVALID_WINDOW_HANDLE},
        {"a destroyed window",
         [&] { return ui_->pfnAddPortUI(nullptr, gone, testsupport::kMonitorName, nullptr); },
         ERROR_INVALID_WINDOW_HANDLE},
        {"no monitor name", [&] { return ui_->pfnAddPortUI(nullptr, owner_, nullptr, nullptr); },
         ERROR_INVALID_PARAMETER},
    };
    std::vector<std::wstring> ports = testsupport::SpoolerPorts();
    for (const Case& c : cases) {
        DrivenCall call = RunDriven(c.call, [](DialogDriver&) {});
        ExpectNoFailures(call);
        EXPECT_FALSE(call.result) << c.what;
        EXPECT_EQ(call.error, c.error) << c.what;
    }
    EXPECT_EQ(RegistryRetryText(), L"45");
    EXPECT_EQ(testsupport::SpoolerPorts(), ports);
    EXPECT_EQ(testsupport::ReadDatabaseBytes().size(), 274u);
    EXPECT_FALSE(ProfileHas(L"Office Printer"));
}

// --- The text checks on their own. ---
TEST(PortUiText, RetryTimeoutSeconds) {
    const struct {
        const wchar_t* text;
        bool accepted;
        uint32_t seconds;
    } cases[] = {
        {L"1", true, 1},
        {L"45", true, 45},
        {L" 90\t", true, 90},
        {L"4294967", true, 4294967},
        {L"0004294967", true, 4294967},
        {L"0", false, 0},
        {L"4294968", false, 0},
        {L"99999999999999999999", false, 0},
        {L"-5", false, 0},
        {L"+5", false, 0},
        {L"1.5", false, 0},
        {L"5 s", false, 0},
        {L"", false, 0},
        {L"  ", false, 0},
        {nullptr, false, 0},
    };
    for (const auto& c : cases) {
        uint32_t seconds = 77;
        EXPECT_EQ(quilldlg::ParseRetryTimeoutSeconds(c.text, &seconds), c.accepted)
            << (c.text ? std::string(c.text, c.text + wcslen(c.text)) : "null");
        EXPECT_EQ(seconds, c.accepted ? c.seconds : 77u);
    }
}

TEST(PortUiText, AddressPortNames) {
    const struct {
        const wchar_t* name;
        bool accepted;
    } cases[] = {
        {L"00:1b:dc:0f:10:01.1", true},
        {L"00:1B:DC:0F:10:01", true},
        {L"00:1b:dc:0f:10:01.123", true},
        {L"00:1b:dc:0f:10:01.1234", false},
        {L"00:1b:dc:0f:10:01.", false},
        {L"00:1b:dc:0f:10", false},
        {L"00:1b:dc:0f:10:1", false},
        {L"00-1b-dc-0f-10-01", false},
        {L"00:1b:dc:0f:10:01 ", false},
        {L"0g:1b:dc:0f:10:01", false},
        {L"Office Printer", false},
        {L"", false},
        {nullptr, false},
    };
    for (const auto& c : cases) {
        uint8_t address[6] = {9, 9, 9, 9, 9, 9};
        EXPECT_EQ(quilldlg::ParseAddressPortName(c.name, address), c.accepted)
            << (c.name ? std::string(c.name, c.name + wcslen(c.name)) : "null");
        if (c.accepted) {
            wchar_t text[quilldlg::ADDRESS_TEXT_SIZE];
            quilldlg::FormatAddress(address, text);
            EXPECT_STREQ(text, L"00:1b:dc:0f:10:01");
        } else {
            EXPECT_EQ(address[0], 9) << "unchanged";
        }
    }
}

TEST(PortUiText, ServerNames) {
    EXPECT_TRUE(quilldlg::NamesThisComputer(nullptr, L"HOST"));
    EXPECT_TRUE(quilldlg::NamesThisComputer(L"", L"HOST"));
    EXPECT_TRUE(quilldlg::NamesThisComputer(L"\\\\host", L"HOST"));
    EXPECT_TRUE(quilldlg::NamesThisComputer(L"Host", L"HOST"));
    EXPECT_FALSE(quilldlg::NamesThisComputer(L"\\\\HOST2", L"HOST"));
    EXPECT_FALSE(quilldlg::NamesThisComputer(L"\\\\HOS", L"HOST"));
    EXPECT_FALSE(quilldlg::NamesThisComputer(L"\\\\", L"HOST"));
    EXPECT_FALSE(quilldlg::NamesThisComputer(L"\\\\HOST", nullptr));
    EXPECT_EQ(quilldlg::BoundedLength(L"abc", 247), 3u);
    const std::wstring longName(300, L'x');
    EXPECT_EQ(quilldlg::BoundedLength(longName.c_str(), 247), 248u);
}

} // namespace
