// Stand-in for the vendor's Bluetooth stack process. The monitor only checks that a process
// of this name runs; the simulated stack itself lives in QORLIB.DLL. Runs until
// "Tarnwick.exe --stop" (or any program) signals the named event below.
//
//   Tarnwick.exe          run until stopped
//   Tarnwick.exe --stop   stop every running instance and exit

#include <windows.h>

#include <cstdio>
#include <cstring>

static const wchar_t kStopEventName[] = L"TarnwickStackStop";

int main(int argc, char** argv) {
    // Manual reset: one signal stops every instance that waits on it.
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, kStopEventName);
    if (stop == nullptr) {
        std::fprintf(stderr, "Tarnwick: cannot create the stop event (error %lu)\n",
                     GetLastError());
        return 2;
    }
    if (argc > 1 && std::strcmp(argv[1], "--stop") == 0) {
        SetEvent(stop);
        // Give the running instances time to see it, then re-arm for the next start.
        Sleep(200);
        ResetEvent(stop);
        CloseHandle(stop);
        return 0;
    }
    if (argc > 1) {
        std::fprintf(stderr, "usage: Tarnwick.exe [--stop]\n");
        CloseHandle(stop);
        return 1;
    }
    std::printf("Tarnwick: simulated Bluetooth stack process running\n");
    std::fflush(stdout);
    WaitForSingleObject(stop, INFINITE);
    CloseHandle(stop);
    return 0;
}
