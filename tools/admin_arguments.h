#pragma once
// The arguments of the administration commands, checked before anything is touched. Pure
// text handling, no system calls: each check returns an empty string when the argument is
// good, or the message a person sees (naming the argument and what is allowed).

#include <cstdint>
#include <string>

namespace prnlink {

// A Bluetooth device address as in port names, "00:1b:dc:0f:10:01" (either letter case),
// or as 12 hexadecimal digits, "001BDC0F1001". Byte 0 is the first pair. 00:00:00:00:00:00
// is refused: the device database reads it for a slot that holds no record.
std::string ParseAddressArgument(const std::string& text, uint8_t address[6]);
// "00:1b:dc:0f:10:01".
std::string FormatAddress(const uint8_t address[6]);

// An L2CAP PSM for an HCRP channel, in decimal or as 0x followed by hexadecimal digits:
// odd, with the lowest bit of its upper byte clear (as L2CAP requires), 0x0001 to 0xFEFF.
// option names the argument in the message ("--control-psm").
std::string ParsePsmArgument(const std::string& option, const std::string& text, uint16_t* psm);
// "0x1001".
std::string FormatPsm(uint16_t psm);

// A printer name for HCRPDB.txt: 1 to 247 bytes (what the monitor reads back from the
// 248-byte field), printable (no control characters), not ending in a space (the padding
// would swallow it) and without commas (a printer's port list is comma-separated, so the
// monitor turns them into spaces in the port name).
std::string CheckPrinterNameArgument(const std::string& name);

// A monitor name for the spooler: 1 to 64 printable characters, no backslash (it names a
// registry key) and no comma.
std::string CheckMonitorNameArgument(const std::string& name);

// A number of seconds for --interval: a whole number from 1 to 3600, or a decimal with up
// to 3 digits after the point from 0.1 (e.g. "0.5").
std::string ParseIntervalArgument(const std::string& text, uint32_t* milliseconds);

} // namespace prnlink
