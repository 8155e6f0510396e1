// Line status byte to spooler status, tried in a fixed order: the paper-empty test comes
// before the fault test, so 0x30 (paper empty, selected, fault line low) reads as paper out.

#include "job/status_map.h"

namespace {

// Values as the spooler defines them; spelled out so that this file needs no Win32 header.
constexpr uint32_t STATUS_PORT_OFFLINE = 1;              // PORT_STATUS_OFFLINE
constexpr uint32_t STATUS_PORT_PAPER_OUT = 3;            // PORT_STATUS_PAPER_OUT
constexpr uint32_t SEVERITY_ERROR = 1;                   // PORT_STATUS_TYPE_ERROR
constexpr uint32_t PRINTER_ERROR = 0x2;                  // PRINTER_STATUS_ERROR
constexpr uint32_t PRINTER_PAPER_OUT = 0x10;             // PRINTER_STATUS_PAPER_OUT
constexpr uint32_t PRINTER_OFFLINE = 0x80;               // PRINTER_STATUS_OFFLINE
constexpr uint32_t PRINTER_USER_INTERVENTION = 0x100000; // PRINTER_STATUS_USER_INTERVENTION

LineStatusMapping Row(uint32_t port, PortStatusText text, bool sets, uint32_t printer, bool ready) {
    return LineStatusMapping{port, text, SEVERITY_ERROR, sets, printer, ready};
}

} // namespace

LineStatusMapping MapLineStatus(uint8_t status) {
    if (status == LINE_STATUS_READY) {
        return Row(0, PortStatusText::None, true, 0, true);
    }
    if (status == LINE_STATUS_NOT_POWERED) {
        return Row(0, PortStatusText::NotPoweredOn, true, PRINTER_ERROR, false);
    }
    if ((status & LINE_PAPER_EMPTY) != 0) {
        return Row(STATUS_PORT_PAPER_OUT, PortStatusText::None, true, PRINTER_PAPER_OUT, false);
    }
    if ((status & LINE_NO_FAULT) == 0) {
        return Row(STATUS_PORT_OFFLINE, PortStatusText::None, true, PRINTER_USER_INTERVENTION,
                   false);
    }
    if ((status & LINE_SELECT) == 0) {
        return Row(STATUS_PORT_OFFLINE, PortStatusText::None, true, PRINTER_OFFLINE, false);
    }
    return Row(0, PortStatusText::None, false, 0, false);
}
