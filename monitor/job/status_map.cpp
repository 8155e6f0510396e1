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

// A row of the mapping, its fields named where it is written: a port status (with its
// text) and, when the row sets it, a printer status.
struct Row {
    uint32_t portStatus = 0;
    PortStatusText text = PortStatusText::None;
    bool setsPrinterStatus = true;
    uint32_t printerStatus = 0;
    bool ready = false;

    Row& Port(uint32_t status) {
        portStatus = status;
        return *this;
    }
    Row& Text(PortStatusText value) {
        text = value;
        return *this;
    }
    Row& Printer(uint32_t status) {
        printerStatus = status;
        return *this;
    }
    Row& LeavesPrinter() {
        setsPrinterStatus = false;
        return *this;
    }
    Row& Ready() {
        ready = true;
        return *this;
    }
    operator LineStatusMapping() const {
        return LineStatusMapping{portStatus,        text,          SEVERITY_ERROR,
                                 setsPrinterStatus, printerStatus, ready};
    }
};

} // namespace

LineStatusMapping MapLineStatus(uint8_t status) {
    if (status == LINE_STATUS_READY) {
        return Row().Ready();
    }
    if (status == LINE_STATUS_NOT_POWERED) {
        return Row().Text(PortStatusText::NotPoweredOn).Printer(PRINTER_ERROR);
    }
    if ((status & LINE_PAPER_EMPTY) != 0) {
        return Row().Port(STATUS_PORT_PAPER_OUT).Printer(PRINTER_PAPER_OUT);
    }
    if ((status & LINE_NO_FAULT) == 0) {
        return Row().Port(STATUS_PORT_OFFLINE).Printer(PRINTER_USER_INTERVENTION);
    }
    if ((status & LINE_SELECT) == 0) {
        return Row().Port(STATUS_PORT_OFFLINE).Printer(PRINTER_OFFLINE);
    }
    return Row().LeavesPrinter();
}
