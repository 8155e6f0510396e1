#include "lowres/world.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "command_support.h"
#include "qorlib_control.h"
#include "spooler_host.h"
#include "support/hcrpdb_writer.h"
#include "support/stack_program.h"

namespace lowres {

namespace {

bool g_startedStack;

testsupport::DeviceEntry EntryOf(const WorldPrinter& printer) {
    testsupport::DeviceEntry entry = {{}, printer.name, 0x1001, 0x1003, 0};
    std::memcpy(entry.address, printer.address, 6);
    return entry;
}

HKEY OpenSettingKey() {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, prnlink::kMonitorRegistryPath, 0, nullptr, 0,
                    KEY_ALL_ACCESS, nullptr, &key, nullptr);
    return key;
}

const wchar_t kSettingValue[] = L"TransmissionRetryTimeout";

// The profile entries that the runs' ports may have left.
void RemoveProfileEntries() {
    for (const WorldPrinter* printer : {&kPrinterA, &kPrinterB, &kPrinterC}) {
        WriteProfileStringW(L"QuillPorts", printer->Port().c_str(), nullptr);
        WriteProfileStringW(L"QuillPorts", printer->AddressName().c_str(), nullptr);
    }
    WriteProfileStringW(L"QuillPorts", AddedPortName().c_str(), nullptr);
    WriteProfileStringW(L"QuillPorts", RebuiltPortName().c_str(), nullptr);
}

} // namespace

const WorldPrinter kPrinterA = {"Lowres Printer A", {0x00, 0x11, 0x22, 0x33, 0x44, 0xA1}};
const WorldPrinter kPrinterB = {"Lowres Printer B", {0x00, 0x11, 0x22, 0x33, 0x44, 0xA2}};
const WorldPrinter kPrinterC = {"Lowres Printer C", {0x00, 0x11, 0x22, 0x33, 0x44, 0xA3}};
const char* const kDeviceId = "MFG:Halden;MDL:Lowres 1;CMD:PCL6;CLS:PRINTER;";
const wchar_t* const kPrinterName = L"Lowres Office";

std::wstring AddedPortName() {
    return kPrinterC.AddressName() + L".2";
}

std::wstring RebuiltPortName() {
    return kPrinterA.AddressName() + L".3";
}

std::wstring WorldPrinter::Port() const {
    return testsupport::PortNameFor(name);
}

std::wstring WorldPrinter::AddressName() const {
    wchar_t text[18];
    std::swprintf(text, 18, L"%02X:%02X:%02X:%02X:%02X:%02X", address[0], address[1], address[2],
                  address[3], address[4], address[5]);
    return text;
}

bool StartWorld(std::string* error) {
    g_startedStack = !prnlink::StackProcessRunning();
    if (g_startedStack) {
        testsupport::RunStackProgram(L"", false);
        for (int i = 0; i < 100 && !prnlink::StackProcessRunning(); ++i) {
            Sleep(50);
        }
        if (!prnlink::StackProcessRunning()) {
            *error = "the stack process Tarnwick.exe did not start";
            return false;
        }
    }
    QorlSim_Reset();
    for (const WorldPrinter* printer : {&kPrinterA, &kPrinterB, &kPrinterC}) {
        QorlSimPrinterConfig config;
        QorlSim_DefaultPrinterConfig(&config);
        std::memcpy(config.address, printer->address, 6);
        std::snprintf(config.name, sizeof(config.name), "%s", printer->name);
        config.deviceId = kDeviceId;
        config.deviceIdLength = static_cast<uint32_t>(std::strlen(kDeviceId));
        config.latencyUs = 100;
        if (QorlSim_AddPrinter(&config) != 0) {
            *error = std::string("the simulated stack refused printer ") + printer->name;
            return false;
        }
    }
    return true;
}

void StopWorld() {
    QorlSim_Reset();
    if (g_startedStack) {
        testsupport::RunStackProgram(L" --stop", true);
    }
    testsupport::RemoveDatabase();
    RemoveProfileEntries();
}

void ResetWorld() {
    testsupport::WriteDatabaseBytes(StartingDatabase());
    HKEY key = OpenSettingKey();
    // A printer that stops granting credit fails a write in seconds.
    static const wchar_t kSeconds[] = L"2";
    RegSetValueExW(key, kSettingValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(kSeconds),
                   sizeof(kSeconds));
    RegCloseKey(key);
    for (const WorldPrinter* printer : {&kPrinterA, &kPrinterB, &kPrinterC}) {
        QorlSim_ClearSink(printer->address);
        QorlSim_ClearFaults(printer->address);
    }
    RemoveProfileEntries();
}

std::string StartingDatabase() {
    return testsupport::FormatRecord(EntryOf(kPrinterA)) +
           testsupport::FormatRecord(EntryOf(kPrinterB));
}

std::string DatabaseWith(const WorldPrinter& added) {
    return StartingDatabase() + testsupport::FormatRecord(EntryOf(added));
}

std::string DatabaseWithout(const WorldPrinter& removed) {
    std::string bytes;
    for (const WorldPrinter* printer : {&kPrinterA, &kPrinterB}) {
        if (printer != &removed) {
            bytes += testsupport::FormatRecord(EntryOf(*printer));
        }
    }
    return bytes;
}

std::wstring SettingText() {
    HKEY key = OpenSettingKey();
    wchar_t text[64] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    LONG status = RegQueryValueExW(key, kSettingValue, nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::wstring(text) : L"<absent>";
}

void RemoveSetting() {
    HKEY key = OpenSettingKey();
    RegDeleteValueW(key, kSettingValue);
    RegCloseKey(key);
}

bool ProfileHas(const std::wstring& port) {
    wchar_t value[8];
    return GetProfileStringW(L"QuillPorts", port.c_str(), L"<none>", value, 8) == 0;
}

std::string CloseLinksLeftOpen() {
    QorlSim_WaitIdle(2000);
    std::string open;
    for (const WorldPrinter* printer : {&kPrinterA, &kPrinterB, &kPrinterC}) {
        QorlSimStats stats = {};
        if (QorlSim_GetStats(printer->address, &stats) == 0 && stats.openChannels != 0) {
            open += (open.empty() ? "" : ", ") + std::string(printer->name) +
                    (stats.openChannels == (QORLSIM_CONTROL | QORLSIM_DATA) ? " (both channels)"
                     : stats.openChannels == QORLSIM_DATA                   ? " (data channel)"
                                                                            : " (control channel)");
            QorlSim_DropChannel(printer->address, stats.openChannels, 4);
        }
    }
    QorlSim_WaitIdle(2000);
    return open;
}

std::string SinkOfA() {
    int32_t size = QorlSim_GetSink(kPrinterA.address, 0, nullptr, 0);
    std::string bytes(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    if (size > 0) {
        QorlSim_GetSink(kPrinterA.address, 0, reinterpret_cast<uint8_t*>(&bytes[0]),
                        static_cast<uint32_t>(size));
    }
    return bytes;
}

void ClearSinkOfA() {
    QorlSim_ClearSink(kPrinterA.address);
}

} // namespace lowres
