// Shows each port dialog in a real window and saves a picture of it (24-bit BMP files;
// scripts/screenshots turns them into the PNG files of docs/images). Run under a display,
// in a prefix of its own: dialog_screenshots.exe OUTPUT-FOLDER

#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dialog_driver.h"
#include "resource_ids.h"
#include "support/hcrpdb_writer.h"
#include "support/spooler_monitor.h"
#include "support/spooler_state.h"

namespace {

using testsupport::DialogDriver;

const wchar_t kPort[] = L"00:1b:dc:0f:10:01.1";
std::wstring g_folder;
int g_saved = 0;

// The window as the screen shows it, caption and frame included.
void Save(DialogDriver& driver, HWND window, const wchar_t* name) {
    if (window == nullptr) {
        return;
    }
    Sleep(500); // painted by its own thread
    RECT rect;
    GetWindowRect(window, &rect);
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = height; // bottom-up, as BMP files keep rows
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    std::vector<BYTE> pixels(stride * static_cast<DWORD>(height));
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
              reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42; // "BM"
    file.bfOffBits = sizeof(file) + sizeof(header);
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    std::wstring path = g_folder + L"\\" + name + L".bmp";
    FILE* out = _wfopen(path.c_str(), L"wb");
    if (out == nullptr) {
        driver.Fail("cannot write a picture");
        return;
    }
    fwrite(&file, sizeof(file), 1, out);
    fwrite(&header, sizeof(header), 1, out);
    fwrite(pixels.data(), 1, pixels.size(), out);
    fclose(out);
    ++g_saved;
}

int Report(const testsupport::DrivenCall& call) {
    for (const std::string& failure : call.failures) {
        fprintf(stderr, "dialog_screenshots: %s\n", failure.c_str());
    }
    return static_cast<int>(call.failures.size());
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: dialog_screenshots.exe OUTPUT-FOLDER\n");
        return 2;
    }
    g_folder = argv[1];
    std::string error;
    if (!testsupport::RegisterMonitor(&error)) {
        fprintf(stderr, "dialog_screenshots: %s\n", error.c_str());
        return 1;
    }
    // One printer whose port is named by its address, with the default time-out.
    testsupport::DeviceEntry printer = testsupport::MakeEntry(0, "Office Laser");
    const uint8_t address[6] = {0x00, 0x1b, 0xdc, 0x0f, 0x10, 0x01};
    memcpy(printer.address, address, 6);
    const ACCESS_MASK administer = SERVER_ACCESS_ADMINISTER;
    HANDLE xcv = testsupport::OpenMonitorXcv(&administer);
    DWORD needed = 0;
    DWORD status = 0;
    XcvDataW(xcv, L"AddPort", reinterpret_cast<BYTE*>(const_cast<wchar_t*>(kPort)), sizeof(kPort),
             nullptr, 0, &needed, &status);
    testsupport::WriteDatabase({printer});
    testsupport::RegisterPortKey(kPort);
    testsupport::DeleteRegistryRetryValue();

    HWND owner = CreateWindowExW(0, L"STATIC", L"Printer Properties", WS_OVERLAPPEDWINDOW, 0, 0,
                                 640, 480, nullptr, nullptr, nullptr, nullptr);
    int failures = 0;
    wchar_t port[64];
    wcscpy(port, kPort);
    failures += Report(testsupport::RunDriven([&] { return ConfigurePortW(nullptr, owner, port); },
                                              [&](DialogDriver& d) {
                                                  HWND dialog = d.Await(
                                                      std::wstring(L"Configure Port ") + kPort);
                                                  Save(d, dialog, L"configure-port");
                                                  d.SetText(dialog, IDC_RETRY_TIMEOUT, L"0");
                                                  d.Press(dialog, IDOK);
                                                  HWND box = d.Await(L"Bluetooth Printer Port");
                                                  Save(d, box, L"timeout-refused");
                                                  d.Press(box, IDOK);
                                                  d.AwaitClosed(box);
                                                  d.Press(dialog, IDCANCEL);
                                              }));
    wchar_t monitor[64];
    wcscpy(monitor, testsupport::kMonitorName);
    failures += Report(
        testsupport::RunDriven([&] { return AddPortW(nullptr, owner, monitor); },
                               [&](DialogDriver& d) {
                                   HWND dialog = d.Await(L"Add Bluetooth Printer Port");
                                   d.SetText(dialog, IDC_NEW_PORT_NAME, L"00:1b:dc:0f:10:02.1");
                                   Save(d, dialog, L"add-port");
                                   d.Press(dialog, IDCANCEL);
                               }));
    HMODULE library = LoadLibraryW(L"QUILLDLG.dll");
    auto initialize = reinterpret_cast<PMONITORUI(WINAPI*)()>(
        reinterpret_cast<void*>(GetProcAddress(library, "InitializePrintMonitorUI")));
    PMONITORUI ui = initialize != nullptr ? initialize() : nullptr;
    if (ui != nullptr) {
        failures += Report(
            testsupport::RunDriven([&] { return ui->pfnDeletePortUI(nullptr, owner, kPort); },
                                   [&](DialogDriver& d) {
                                       HWND box = d.Await(L"Bluetooth Printer Port");
                                       Save(d, box, L"delete-port");
                                       d.Press(box, IDNO);
                                   }));
    } else {
        ++failures;
    }
    DestroyWindow(owner);
    ClosePrinter(xcv);
    testsupport::WriteDatabase({});
    WriteProfileStringW(L"QuillPorts", nullptr, nullptr);
    testsupport::UnregisterMonitor();
    printf("dialog_screenshots: %d pictures saved\n", g_saved);
    return failures == 0 && g_saved == 4 ? 0 : 1;
}
