#pragma once
// The monitor's two heaps and its text helpers. Records, names and caches come from the
// system's fixed global heap, zero-filled, and go back with GlobalFree; packets and work
// buffers come from the ordinary (process) heap through AllocWorkMemory and FreeWorkMemory,
// or are owned by a WorkMemory for the length of an operation.

#include <windows.h>
#include <cstddef>

// Global fixed memory, zero-filled; freed with GlobalFree (which accepts null). Null on
// failure (error set).
void* AllocZeroedMemory(size_t bytes);

// The ordinary heap: at least one byte (so that a size of 0 still has a block to point at),
// zero-filled when asked. Null on failure, with ERROR_NOT_ENOUGH_MEMORY set.
void* AllocWorkMemory(size_t bytes, bool zeroed = false);
// Accepts null.
void FreeWorkMemory(void* block);

// A block of the ordinary heap owned for the length of an operation.
class WorkMemory {
  public:
    WorkMemory() = default;
    ~WorkMemory() { FreeWorkMemory(block_); }
    WorkMemory(const WorkMemory&) = delete;
    WorkMemory& operator=(const WorkMemory&) = delete;
    // Zero-filled; replaces any block held. False on failure (error set).
    bool Allocate(size_t bytes) {
        FreeWorkMemory(block_);
        block_ = AllocWorkMemory(bytes, true);
        return block_ != nullptr;
    }
    void* get() const { return block_; }
    template <typename T> T* as() const { return static_cast<T*>(block_); }

  private:
    void* block_ = nullptr;
};
wchar_t* DuplicateWideString(const wchar_t* text);
// Widens 8-bit text byte by byte, each byte sign-extended (0xE9 becomes 0xFFE9): existing
// port names depend on it. Returns the number of characters; *out null on failure.
size_t WidenString(const char* text, wchar_t** out);
