#include "sim_stack.h"

#include "hcrp/stack_binding.h"

namespace jobtest {

PROCESS_INFORMATION StackProcess::process_ = {};

bool StackProcess::Running() {
    return StackBinding::IsProcessRunning("Tarnwick.exe") != 0;
}

bool StackProcess::Start() {
    if (process_.hProcess != nullptr) {
        return true;
    }
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring program(path);
    program = program.substr(0, program.find_last_of(L'\\') + 1) + L"Tarnwick.exe";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &process_)) {
        process_ = {};
        return false;
    }
    for (int i = 0; i < 100 && !Running(); ++i) {
        Sleep(50);
    }
    return Running();
}

void StackProcess::Stop() {
    if (process_.hProcess == nullptr) {
        return;
    }
    TerminateProcess(process_.hProcess, 0);
    WaitForSingleObject(process_.hProcess, 10000);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
    process_ = {};
    for (int i = 0; i < 100 && Running(); ++i) {
        Sleep(50);
    }
}

std::vector<uint8_t> JobBytes(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t state = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] = static_cast<uint8_t>(state >> 16);
    }
    return bytes;
}

} // namespace jobtest
