#pragma once
// The one file of the native build's file stand-ins (win32_native.cpp): every CreateFileW
// opens it, whatever the name. A fuzz target sets its contents and reads them back.

#include <cstddef>
#include <cstdint>
#include <vector>

void SetMemoryFile(const uint8_t* data, size_t size);
const std::vector<uint8_t>& MemoryFile();
// The writeNumber-th WriteFile from now on (1 = the next) fails and writes nothing; 0: none.
void FailMemoryFileWrite(unsigned writeNumber);
// Handles opened and not closed.
int OpenMemoryFileHandles();
