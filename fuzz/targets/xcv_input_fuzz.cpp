// Names and texts from Xcv input, read no further than the input size, and the COMMCONFIG
// size that "SetDefaultCommConfig" takes from it. Input: bytes 0-1
// the input size (at most the bytes that follow, as the caller's buffer), the rest the
// caller's buffer.

#include <cstdint>
#include <cstring>
#include <vector>

#include "check.h"
#include "ports/xcv_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const size_t available = size - 2;
    size_t inputSize = static_cast<size_t>(data[0] | data[1] << 8);
    if (inputSize > available) {
        inputSize = available;
    }
    // Exactly the input size, at an odd address half the time (the caller's buffer need not
    // be aligned).
    const size_t shift = data[0] & 1;
    std::vector<uint8_t> buffer(inputSize + shift + (inputSize + shift == 0 ? 1 : 0));
    if (inputSize != 0) {
        memcpy(buffer.data() + shift, data + 2, inputSize);
    }
    const uint8_t* input = buffer.data() + shift;

    const size_t length = BoundedTextLength(input, inputSize);
    FUZZ_CHECK(length <= inputSize / 2);
    for (size_t i = 0; i < length; ++i) {
        FUZZ_CHECK(input[2 * i] != 0 || input[2 * i + 1] != 0);
    }
    if (length < inputSize / 2) {
        FUZZ_CHECK(input[2 * length] == 0 && input[2 * length + 1] == 0);
    }
    std::vector<wchar_t> text(length + 1, L'#');
    CopyBoundedText(input, length, text.data());
    FUZZ_CHECK(text[length] == L'\0');
    FUZZ_CHECK(memcmp(text.data(), input, length * sizeof(wchar_t)) == 0);
    FUZZ_CHECK(BoundedTextLength(nullptr, inputSize) == 0);

    // The same input as "SetDefaultCommConfig" takes it.
    uint32_t configSize = 0xDEAD;
    const bool fits = ReadCommConfigSize(input, inputSize, 52, &configSize);
    uint32_t given = 0;
    if (inputSize >= 4) {
        memcpy(&given, input, 4);
    }
    FUZZ_CHECK(fits == (inputSize >= 52 && given <= inputSize));
    FUZZ_CHECK(configSize == (fits ? given : 0));
    return 0;
}
