// prnlink devices: the printers of HCRPDB.txt listed, added and removed through the
// monitor's own record code (devicedb).

#include "command_support.h"
#include "command_table.h"

#include "admin_arguments.h"
#include "ansi_text.h"
#include "console.h"
#include "win32_error_names.h"

#include "devicedb/device_database.h"
#include "devicedb/device_database_edit.h"
#include "devicedb/device_record.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace prnlink {

namespace {

// One record of the file as the tool shows it.
struct ListedDevice {
    DWORD number; // from 1, in file order
    DeviceRecordProblem problem;
    DeviceRecord record;
    std::string name; // trimmed as the monitor trims it
};

std::wstring DatabasePath() {
    DeviceDatabase database;
    return database.path;
}

class FileImage {
  public:
    FileImage() : image_{nullptr, 0} {}
    ~FileImage() { FreeDeviceFile(&image_); }
    FileImage(const FileImage&) = delete;
    FileImage& operator=(const FileImage&) = delete;
    DeviceFileImage* get() { return &image_; }

  private:
    DeviceFileImage image_;
};

// Every record of the file; false after saying why it cannot be read.
bool ReadDevices(const std::wstring& path, std::vector<ListedDevice>* devices, bool* missing) {
    FileImage image;
    BOOL absent = FALSE;
    if (!ReadDeviceFile(path.c_str(), image.get(), &absent)) {
        Fail("cannot read " + Narrow(path) + ": " + DescribeWin32Error(GetLastError()));
        return false;
    }
    if (missing != nullptr) {
        *missing = absent != FALSE;
    }
    DWORD count = DeviceRecordCount(*image.get());
    for (DWORD i = 0; i < count; ++i) {
        DWORD length = 0;
        const uint8_t* bytes = DeviceRecordAt(*image.get(), i, &length);
        uint8_t whole[DEVICE_RECORD_SIZE];
        memcpy(whole, bytes, length);
        ClearRecordTail(whole, length);
        ListedDevice device;
        device.number = i + 1;
        device.problem = CheckDeviceRecord(bytes, length);
        ParseDeviceRecord(whole, &device.record);
        char name[DEVICE_NAME_FIELD_SIZE];
        memcpy(name, device.record.name, sizeof(name));
        TrimDeviceName(name);
        device.name = name;
        devices->push_back(device);
    }
    return true;
}

int DevicesList(const std::vector<std::string>& args) {
    if (args.size() != 2) {
        return Usage("devices", "devices list takes no arguments");
    }
    std::wstring path = DatabasePath();
    std::vector<ListedDevice> devices;
    bool missing = false;
    if (!ReadDevices(path, &devices, &missing)) {
        return EXIT_FAILED;
    }
    if (missing) {
        PrintLine("no printers: " + Narrow(path) + " does not exist");
        return EXIT_OK;
    }
    size_t width = 4;
    for (const ListedDevice& device : devices) {
        width = device.name.size() > width ? device.name.size() : width;
    }
    auto row = [width](const std::string& number, const std::string& address,
                       const std::string& name, const std::string& control,
                       const std::string& data) {
        char head[64];
        std::snprintf(head, sizeof(head), "%-4s %-18s ", number.c_str(), address.c_str());
        return head + name + std::string(width + 2 - name.size(), ' ') + control +
               std::string(control.size() < 13 ? 13 - control.size() : 1, ' ') + data;
    };
    PrintLine(row("#", "ADDRESS", "NAME", "CONTROL PSM", "DATA PSM"));
    DWORD malformed = 0;
    for (const ListedDevice& device : devices) {
        std::string number = std::to_string(device.number);
        if (device.problem != DEVICE_RECORD_WELL_FORMED) {
            ++malformed;
            PrintLine(number + std::string(number.size() < 5 ? 5 - number.size() : 1, ' ') +
                      "malformed: " + DescribeDeviceRecordProblem(device.problem));
            continue;
        }
        PrintLine(row(number, FormatAddress(device.record.address), device.name,
                      FormatPsm(device.record.controlPsm), FormatPsm(device.record.dataPsm)));
    }
    std::string summary = std::to_string(devices.size()) +
                          (devices.size() == 1 ? " printer in " : " printers in ") + Narrow(path);
    if (malformed > 0) {
        summary += " (" + std::to_string(malformed) + " malformed)";
    }
    PrintLine(summary);
    return EXIT_OK;
}

int DevicesAdd(std::vector<std::string> args) {
    std::string controlText = "0x1001";
    std::string dataText = "0x1003";
    std::string error;
    if (!TakeOption(&args, "--control-psm", &controlText, &error) ||
        !TakeOption(&args, "--data-psm", &dataText, &error)) {
        return Usage("devices", error);
    }
    if (args.size() != 4) {
        return Usage("devices", "devices add needs an address and a name (quote a name with "
                                "spaces), and no other arguments");
    }
    DeviceRecord record = {};
    error = ParseAddressArgument(args[2], record.address);
    if (error.empty()) {
        error = CheckPrinterNameArgument(args[3]);
    }
    if (error.empty()) {
        error = ParsePsmArgument("--control-psm", controlText, &record.controlPsm);
    }
    if (error.empty()) {
        error = ParsePsmArgument("--data-psm", dataText, &record.dataPsm);
    }
    if (error.empty() && record.controlPsm == record.dataPsm) {
        error = "--control-psm and --data-psm are both " + FormatPsm(record.dataPsm) +
                ": the two HCRP channels need different PSMs";
    }
    if (!error.empty()) {
        return Usage("devices", error);
    }
    const std::string& name = args[3];
    std::wstring path = DatabasePath();
    std::vector<ListedDevice> devices;
    if (!ReadDevices(path, &devices, nullptr)) {
        return EXIT_FAILED;
    }
    for (const ListedDevice& device : devices) {
        if (memcmp(device.record.address, record.address, 6) == 0) {
            return Fail("record " + std::to_string(device.number) + " already lists " +
                        FormatAddress(record.address) + " (\"" + device.name +
                        "\"); nothing was changed (prnlink devices remove it first)");
        }
        if (device.problem == DEVICE_RECORD_WELL_FORMED &&
            lstrcmpiA(device.name.c_str(), name.c_str()) == 0) {
            return Fail("record " + std::to_string(device.number) + " already has the name \"" +
                        device.name + "\" (" + FormatAddress(device.record.address) +
                        "): a port is named after its printer, so names must differ; nothing "
                        "was changed");
        }
    }
    memcpy(record.name, name.data(), name.size());
    uint8_t bytes[DEVICE_RECORD_SIZE];
    FormatDeviceRecord(record, bytes);
    if (!AppendDeviceRecord(path.c_str(), bytes)) {
        return Fail("cannot write " + Narrow(path) + ": " + DescribeWin32Error(GetLastError()) +
                    "; the file is as it was");
    }
    PrintLine("added " + FormatAddress(record.address) + " \"" + name + "\" (control PSM " +
              FormatPsm(record.controlPsm) + ", data PSM " + FormatPsm(record.dataPsm) +
              ") as record " + std::to_string(devices.size() + 1) + " of " + Narrow(path));
    return EXIT_OK;
}

int DevicesRemove(const std::vector<std::string>& args) {
    if (args.size() != 3) {
        return Usage("devices", "devices remove needs one address or name");
    }
    const std::string& key = args[2];
    uint8_t address[6];
    bool byAddress = ParseAddressArgument(key, address).empty();
    if (!byAddress && !CheckPrinterNameArgument(key).empty()) {
        return Usage("devices", "\"" + key +
                                    "\" is neither a device address (00:1b:dc:0f:10:01 or "
                                    "12 hexadecimal digits) nor a printer name");
    }
    std::wstring path = DatabasePath();
    std::vector<ListedDevice> devices;
    if (!ReadDevices(path, &devices, nullptr)) {
        return EXIT_FAILED;
    }
    const ListedDevice* found = nullptr;
    for (const ListedDevice& device : devices) {
        bool match = byAddress ? memcmp(device.record.address, address, 6) == 0
                               : lstrcmpiA(device.name.c_str(), key.c_str()) == 0;
        if (match) {
            found = &device;
            break;
        }
    }
    if (found == nullptr) {
        return Fail("no printer " + std::string(byAddress ? "with address " : "named ") + "\"" +
                    key + "\" in " + Narrow(path) + " (prnlink devices list shows them)");
    }
    if (!RemoveDeviceRecord(path.c_str(), found->number - 1)) {
        return Fail("cannot write " + Narrow(path) + ": " + DescribeWin32Error(GetLastError()) +
                    "; the file is as it was");
    }
    PrintLine("removed record " + std::to_string(found->number) + ", " +
              FormatAddress(found->record.address) + " \"" + found->name + "\", from " +
              Narrow(path));
    return EXIT_OK;
}

} // namespace

int CommandDevices(const Options& options) {
    const std::vector<std::string>& args = options.args;
    std::string action = args.size() > 1 ? args[1] : std::string();
    if (action == "list") {
        return DevicesList(args);
    }
    if (action == "add") {
        return DevicesAdd(args);
    }
    if (action == "remove") {
        return DevicesRemove(args);
    }
    return Usage("devices", action.empty()
                                ? "devices needs list, add or remove"
                                : "devices takes list, add or remove, not \"" + action + "\"");
}

} // namespace prnlink
