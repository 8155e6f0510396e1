#pragma once
// What an administrator types into the port dialogs and what a caller passes to them,
// judged without any system call, so that the checks are tested on their own.

#include <cstddef>
#include <cstdint>

namespace quilldlg {

// The longest port name the monitor keeps.
constexpr size_t PORT_NAME_MAX_LENGTH = 247;
// "00:1b:dc:0f:10:01" and its terminator.
constexpr size_t ADDRESS_TEXT_SIZE = 18;

// A whole number of seconds within RETRY_TIMEOUT_MIN_SECONDS..RETRY_TIMEOUT_MAX_SECONDS,
// written in decimal digits only, with spaces around it allowed. Null, empty, signed,
// fractional or out-of-range text gives false and leaves *seconds unchanged.
bool ParseRetryTimeoutSeconds(const wchar_t* text, uint32_t* seconds);

// A port name that is a Bluetooth address as the monitor writes port names: six pairs of
// hexadecimal digits (either case) separated by colons, then optionally a point and a
// channel number of 1 to 3 decimal digits, nothing else. Stores the six bytes in order.
bool ParseAddressPortName(const wchar_t* name, uint8_t address[6]);

// The address as port names show it, in lower case: "00:1b:dc:0f:10:01".
void FormatAddress(const uint8_t address[6], wchar_t text[ADDRESS_TEXT_SIZE]);

// Whether a server name given by the spooler means this computer: null, empty, or this
// computer's name with or without the leading backslashes, in any letter case (ASCII).
bool NamesThisComputer(const wchar_t* server, const wchar_t* computerName);

// The length of a name of at most limit characters; limit + 1 when it is longer (the
// scan stops there, so an unterminated name is never read beyond that).
size_t BoundedLength(const wchar_t* text, size_t limit);

} // namespace quilldlg
