#pragma once
// The printer's IEEE 1284 line status byte turned into what the spooler is told: the port
// status posted with SetPortW at level 3, the printer status kept in our copy of the level-2
// printer record, and whether the printer may take data. Pure: no Win32 calls.

#include <cstdint>

// Lines of the status byte: paper empty, select, and the active-low fault line.
constexpr uint8_t LINE_PAPER_EMPTY = 0x20;
constexpr uint8_t LINE_SELECT = 0x10;
constexpr uint8_t LINE_NO_FAULT = 0x08;
constexpr uint8_t LINE_STATUS_READY = 0x18;
constexpr uint8_t LINE_STATUS_NOT_POWERED = 0x38;

enum class PortStatusText : uint8_t {
    None,
    NotPoweredOn, // "Not Powered On"
};

struct LineStatusMapping {
    uint32_t portStatus;    // PORT_INFO_3 dwStatus
    PortStatusText text;    // PORT_INFO_3 pszStatus
    uint32_t severity;      // PORT_INFO_3 dwSeverity
    bool setsPrinterStatus; // false: the printer record's Status is left as it was
    uint32_t printerStatus; // PRINTER_INFO_2 Status when setsPrinterStatus
    bool ready;             // true only for exactly 0x18
};

// Rows tried in order: 0x18 ready; 0x38 not powered; paper empty; fault; not selected;
// anything else clears the port status without touching the printer status.
LineStatusMapping MapLineStatus(uint8_t status);
