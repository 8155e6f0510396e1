#pragma once
// The plain-text configuration of the simulated stack (format in standins/README.md).
// Pure parsing over a text buffer.

#include <string>
#include <vector>

#include "qorlib_control.h"

namespace qorsim {

struct PrinterEntry {
    QorlSimPrinterConfig config; // deviceId points into `deviceId` below once finished
    std::string deviceId;
    std::vector<QorlSimFault> faults;
};

struct ConfigResult {
    std::string sinkDir;
    std::string pcapDir;
    std::string logDir;
    std::vector<PrinterEntry> printers;
    std::string error; // the first error, "line N: ..."; empty when the text is valid
};

// Parses the whole text. On error, result->error says where; printers parsed so far are kept
// but callers should not use them.
bool ParseConfigText(const std::string& text, ConfigResult* result);

// Parses a fault description "kind [channels=control|data|both] [value=N] [count=N]
// [pdu=N] [after=N]". Returns false on unknown words.
bool ParseFault(const std::string& text, QorlSimFault* fault, std::string* error);

} // namespace qorsim
