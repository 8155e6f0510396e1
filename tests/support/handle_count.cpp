#include "support/handle_count.h"

#include <windows.h>

namespace testsupport {

size_t CountOpenHandles(size_t probe) {
    size_t open = 0;
    for (size_t slot = 1; slot <= probe; ++slot) {
        // Handle values are multiples of 4; a handle that exists has information to give.
        HANDLE handle = reinterpret_cast<HANDLE>(slot * 4);
        DWORD flags = 0;
        if (GetHandleInformation(handle, &flags)) {
            ++open;
        }
    }
    return open;
}

size_t SteadyOpenHandleCount() {
    size_t count = CountOpenHandles();
    for (int tries = 0; tries < 100; ++tries) {
        Sleep(50);
        const size_t again = CountOpenHandles();
        if (again == count) {
            break;
        }
        count = again;
    }
    return count;
}

size_t HeapBytesInUse() {
    HANDLE heaps[64];
    const DWORD count = GetProcessHeaps(64, heaps);
    size_t total = 0;
    for (DWORD i = 0; i < count && i < 64; ++i) {
        if (!HeapLock(heaps[i])) {
            continue;
        }
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heaps[i], &entry)) {
            if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) {
                total += entry.cbData;
            }
        }
        HeapUnlock(heaps[i]);
    }
    return total;
}

} // namespace testsupport
