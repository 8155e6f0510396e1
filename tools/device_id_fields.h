#pragma once
// The IEEE 1284 device ID as a printer reports it: "KEY:value;" pairs, such as
// "MFG:Acme;MDL:Laser 10;CMD:PCL,PS;CLS:PRINTER;". Pure text handling, no system calls.

#include <cstddef>
#include <string>
#include <vector>

namespace prnlink {

struct DeviceIdField {
    std::string key;   // as sent, white space around it removed; empty for a bare value
    std::string value; // after the first colon, white space around it removed
};

// Splits the ID at semicolons, and each piece at its first colon. Empty pieces (";;", a
// trailing ";") are skipped; a piece without a colon becomes a field with an empty key.
// Stops at the first NUL byte or after length bytes, whichever comes first.
std::vector<DeviceIdField> ParseDeviceId(const char* text, size_t length);

// The long name of a key the 1284 ID standard defines ("MFG" and "MANUFACTURER" give
// "manufacturer"), or an empty string for any other key. Keys compare without case.
std::string DeviceIdKeyMeaning(const std::string& key);

// Text safe to print on a console: bytes outside printable ASCII become \xNN.
std::string PrintableText(const std::string& text);

} // namespace prnlink
