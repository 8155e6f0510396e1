#include "config_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "sim_printer.h"

namespace qorsim {

static std::string Trim(const std::string& s) {
    size_t begin = s.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) {
        return std::string();
    }
    size_t end = s.find_last_not_of(" \t\r\n");
    return s.substr(begin, end - begin + 1);
}

static std::string Lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return s;
}

// Unsigned number, decimal or 0x-hexadecimal, within `max`.
static bool ParseNumber(const std::string& text, unsigned long long max, unsigned long long* out) {
    if (text.empty() || text[0] == '-' || text[0] == '+') {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0' || v > max) {
        return false;
    }
    *out = v;
    return true;
}

static bool ParseSigned(const std::string& text, long long* out) {
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 0);
    if (text.empty() || errno != 0 || *end != '\0' || v < -1 || v > 0x7FFFFFFF) {
        return false;
    }
    *out = v;
    return true;
}

struct FaultName {
    const char* name;
    uint32_t kind;
};

static const FaultName kFaultNames[] = {
    {"register-refused", QORLSIM_FAULT_REGISTER_REFUSED},
    {"connect-refused", QORLSIM_FAULT_CONNECT_REFUSED},
    {"no-connected-event", QORLSIM_FAULT_NO_CONNECTED_EVENT},
    {"connected-result", QORLSIM_FAULT_CONNECTED_RESULT},
    {"channel-drop", QORLSIM_FAULT_CHANNEL_DROP},
    {"response-delay", QORLSIM_FAULT_RESPONSE_DELAY},
    {"response-lost", QORLSIM_FAULT_RESPONSE_LOST},
    {"response-duplicated", QORLSIM_FAULT_RESPONSE_DUPLICATED},
    {"response-wrong-transaction", QORLSIM_FAULT_RESPONSE_WRONG_TRANSACTION},
    {"response-too-short", QORLSIM_FAULT_RESPONSE_TOO_SHORT},
    {"response-bad-parameter-length", QORLSIM_FAULT_RESPONSE_BAD_PARAM_LENGTH},
    {"send-refused", QORLSIM_FAULT_SEND_REFUSED},
    {"response-status", QORLSIM_FAULT_RESPONSE_STATUS},
    {"disconnect-delay", QORLSIM_FAULT_DISCONNECT_DELAY},
};

bool ParseFault(const std::string& text, QorlSimFault* fault, std::string* error) {
    std::memset(fault, 0, sizeof(*fault));
    fault->count = -1;
    std::istringstream words(text);
    std::string word;
    if (!(words >> word)) {
        *error = "fault without a kind";
        return false;
    }
    word = Lower(word);
    for (const FaultName& n : kFaultNames) {
        if (word == n.name) {
            fault->kind = n.kind;
        }
    }
    if (fault->kind == 0) {
        *error = "unknown fault '" + word + "'";
        return false;
    }
    while (words >> word) {
        size_t eq = word.find('=');
        std::string key = Lower(word.substr(0, eq));
        std::string value = eq == std::string::npos ? std::string() : word.substr(eq + 1);
        unsigned long long n = 0;
        long long s = 0;
        if (key == "channels") {
            value = Lower(value);
            if (value == "control") {
                fault->channels = QORLSIM_CONTROL;
            } else if (value == "data") {
                fault->channels = QORLSIM_DATA;
            } else if (value == "both") {
                fault->channels = QORLSIM_CONTROL | QORLSIM_DATA;
            } else {
                *error = "bad channels '" + value + "'";
                return false;
            }
        } else if (key == "value" && ParseNumber(value, 0xFFFFFFFFull, &n)) {
            fault->value = static_cast<uint32_t>(n);
        } else if (key == "count" && ParseSigned(value, &s)) {
            fault->count = static_cast<int32_t>(s);
        } else if (key == "pdu" && ParseNumber(value, 0xFFFF, &n)) {
            fault->pduId = static_cast<uint16_t>(n);
        } else if (key == "after" && ParseNumber(value, 0xFFFFFFFFull, &n)) {
            fault->afterBytes = static_cast<uint32_t>(n);
        } else {
            *error = "bad fault option '" + word + "'";
            return false;
        }
    }
    return true;
}

static bool SetPrinterKey(PrinterEntry* entry, const std::string& key, const std::string& value,
                          std::string* error) {
    QorlSimPrinterConfig& c = entry->config;
    unsigned long long n = 0;
    auto number = [&](unsigned long long max) {
        if (!ParseNumber(value, max, &n)) {
            *error = "bad number '" + value + "' for " + key;
            return false;
        }
        return true;
    };
    if (key == "address") {
        if (!ParseAddress(value.c_str(), c.address)) {
            *error = "bad address '" + value + "'";
            return false;
        }
    } else if (key == "name") {
        std::strncpy(c.name, value.c_str(), sizeof(c.name) - 1);
    } else if (key == "deviceid") {
        if (value.size() > 0xFFFF - 2) {
            *error = "device ID longer than 65533 bytes";
            return false;
        }
        entry->deviceId = value;
    } else if (key == "controlpsm") {
        if (!number(0xFFFF)) {
            return false;
        }
        c.controlPsm = static_cast<uint16_t>(n);
    } else if (key == "datapsm") {
        if (!number(0xFFFF)) {
            return false;
        }
        c.dataPsm = static_cast<uint16_t>(n);
    } else if (key == "status") {
        std::string v = Lower(value);
        if (v == "ready") {
            c.lptStatus = QORLSIM_LPT_READY;
        } else if (v == "off") {
            c.lptStatus = QORLSIM_LPT_POWERED_OFF;
        } else if (v == "paper-out") {
            c.lptStatus = QORLSIM_LPT_PAPER_OUT;
        } else if (v == "offline") {
            c.lptStatus = QORLSIM_LPT_OFFLINE;
        } else if (v == "fault") {
            c.lptStatus = QORLSIM_LPT_FAULT;
        } else if (v == "unsupported") {
            c.lptUnsupported = 1;
        } else {
            if (!number(0xFF)) {
                return false;
            }
            c.lptStatus = static_cast<uint8_t>(n);
        }
    } else if (key == "credit") {
        std::string v = Lower(value);
        if (v == "window") {
            c.creditPolicy = QORLSIM_CREDIT_WINDOW;
        } else if (v == "never") {
            c.creditPolicy = QORLSIM_CREDIT_NEVER;
        } else if (v.compare(0, 6, "fixed:") == 0) {
            if (!ParseNumber(v.substr(6), 0xFFFFFFFFull, &n)) {
                *error = "bad credit amount '" + value + "'";
                return false;
            }
            c.creditPolicy = QORLSIM_CREDIT_FIXED;
            c.creditAmount = static_cast<uint32_t>(n);
        } else {
            *error = "bad credit policy '" + value + "'";
            return false;
        }
    } else if (key == "buffer") {
        if (!number(0xFFFFFFFFull)) {
            return false;
        }
        c.bufferSize = static_cast<uint32_t>(n);
    } else if (key == "speed") {
        if (!number(0xFFFFFFFFull)) {
            return false;
        }
        c.printSpeed = static_cast<uint32_t>(n);
    } else if (key == "controlmtu" || key == "datamtu") {
        if (!number(0xFFFF)) {
            return false;
        }
        (key == "controlmtu" ? c.controlMtu : c.dataMtu) = static_cast<uint16_t>(n);
    } else if (key == "linkrate") {
        if (!number(0xFFFFFFFFull)) {
            return false;
        }
        c.linkRate = static_cast<uint32_t>(n);
    } else if (key == "latency") {
        if (!number(10000000)) {
            return false;
        }
        c.latencyUs = static_cast<uint32_t>(n);
    } else if (key == "paperoutafter") {
        if (!number(0xFFFFFFFFull)) {
            return false;
        }
        c.paperOutAfter = static_cast<uint32_t>(n);
    } else if (key == "fault") {
        QorlSimFault fault;
        if (!ParseFault(value, &fault, error)) {
            return false;
        }
        entry->faults.push_back(fault);
    } else {
        *error = "unknown key '" + key + "'";
        return false;
    }
    return true;
}

bool ParseConfigText(const std::string& text, ConfigResult* result) {
    std::istringstream lines(text);
    std::string line;
    int lineNumber = 0;
    enum { NONE, OUTPUT, PRINTER } section = NONE;
    std::string error;
    auto fail = [&](const std::string& message) {
        result->error = "line " + std::to_string(lineNumber) + ": " + message;
        return false;
    };
    while (std::getline(lines, line)) {
        lineNumber++;
        std::string t = Trim(line);
        if (t.empty() || t[0] == '#' || t[0] == ';') {
            continue;
        }
        if (t[0] == '[') {
            std::string name = Lower(t);
            if (name == "[output]") {
                section = OUTPUT;
            } else if (name == "[printer]") {
                section = PRINTER;
                PrinterEntry entry;
                QorlSim_DefaultPrinterConfig(&entry.config);
                result->printers.push_back(entry);
            } else {
                return fail("unknown section " + t);
            }
            continue;
        }
        size_t eq = t.find('=');
        if (eq == std::string::npos) {
            return fail("expected key = value");
        }
        std::string key = Lower(Trim(t.substr(0, eq)));
        std::string value = Trim(t.substr(eq + 1));
        if (section == OUTPUT) {
            if (key == "sinkdir") {
                result->sinkDir = value;
            } else if (key == "pcapdir") {
                result->pcapDir = value;
            } else if (key == "logdir") {
                result->logDir = value;
            } else {
                return fail("unknown key '" + key + "'");
            }
        } else if (section == PRINTER) {
            if (!SetPrinterKey(&result->printers.back(), key, value, &error)) {
                return fail(error);
            }
        } else {
            return fail("key outside a section");
        }
    }
    static const uint8_t zero[6] = {};
    for (size_t i = 0; i < result->printers.size(); i++) {
        PrinterEntry& p = result->printers[i];
        if (std::memcmp(p.config.address, zero, 6) == 0) {
            result->error = "printer " + std::to_string(i + 1) + ": no address";
            return false;
        }
        for (size_t j = 0; j < i; j++) {
            if (std::memcmp(result->printers[j].config.address, p.config.address, 6) == 0) {
                result->error = "printer " + std::to_string(i + 1) + ": address listed twice";
                return false;
            }
        }
    }
    return true;
}

} // namespace qorsim
