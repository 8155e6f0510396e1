// The simulated stack's state: printers and their configuration, faults, look-ups, and the
// start on first use.

#include <chrono>

#include "config_file.h"
#include "sim_state.h"

namespace qorsim {

uint64_t NowUs() {
    using namespace std::chrono;
    static const steady_clock::time_point start = steady_clock::now();
    return static_cast<uint64_t>(duration_cast<microseconds>(steady_clock::now() - start).count());
}

uint64_t AddressKey(const uint8_t* a) {
    uint64_t key = 0;
    for (int i = 0; i < 6; i++) {
        key = key << 8 | a[i];
    }
    return key;
}

std::string AddressFileName(const uint8_t* a) {
    char text[16];
    std::snprintf(text, sizeof(text), "%02x%02x%02x%02x%02x%02x", a[0], a[1], a[2], a[3], a[4],
                  a[5]);
    return text;
}

State* g_state = new State;

void DebugLine(const std::string& text) {
    OutputDebugStringA(("QORLIB: " + text + "\n").c_str());
}

// ---- faults -------------------------------------------------------------------------------

bool TakeFault(std::vector<QorlSimFault>* faults, uint32_t kind, uint32_t channel, uint16_t pduId,
               QorlSimFault* out) {
    for (size_t i = 0; i < faults->size(); i++) {
        QorlSimFault& f = (*faults)[i];
        if (f.kind != kind) {
            continue;
        }
        if (f.channels != 0 && channel != 0 && (f.channels & channel) == 0) {
            continue;
        }
        if (f.pduId != 0 && f.pduId != pduId) {
            continue;
        }
        *out = f;
        if (f.count > 0 && --f.count == 0) {
            faults->erase(faults->begin() + static_cast<ptrdiff_t>(i));
        }
        return true;
    }
    return false;
}

Printer* FindPrinter(const uint8_t* address) {
    if (address == nullptr) {
        return nullptr;
    }
    auto it = g_state->printers.find(AddressKey(address));
    return it == g_state->printers.end() ? nullptr : it->second.get();
}

Channel* FindChannel(uint16_t handle) {
    auto it = g_state->channels.find(handle);
    return it == g_state->channels.end() ? nullptr : it->second.get();
}

void AddPrinterLocked(const QorlSimPrinterConfig& config, const std::vector<QorlSimFault>& faults,
                      FileWork* files) {
    uint64_t key = AddressKey(config.address);
    auto existing = g_state->printers.find(key);
    if (existing != g_state->printers.end()) {
        Printer* old = existing->second.get();
        DropChannels(old, QORLSIM_CONTROL | QORLSIM_DATA, EVENT_DISCONNECTED);
        files->Add(old);
        g_state->printers.erase(existing);
    }
    std::unique_ptr<Printer> p(new Printer);
    p->sim.reset(new SimPrinter(config));
    p->faults = faults;
    p->addedUs = NowUs();
    p->lane = LaneFor(key);
    g_state->printers[key] = std::move(p);
}

int LoadConfigLocked(const char* path, FileWork* files) {
    FILE* f = path ? std::fopen(path, "rb") : nullptr;
    if (f == nullptr) {
        g_state->lastError = std::string("cannot open ") + (path ? path : "(null)");
        return -1;
    }
    std::string text;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof(chunk), f)) > 0) {
        text.append(chunk, n);
    }
    std::fclose(f);
    ConfigResult result;
    if (!ParseConfigText(text, &result)) {
        g_state->lastError = std::string(path) + ": " + result.error;
        return -1;
    }
    if (!result.sinkDir.empty()) {
        g_state->sinkDir = result.sinkDir;
    }
    if (!result.pcapDir.empty()) {
        g_state->pcapDir = result.pcapDir;
    }
    if (!result.logDir.empty()) {
        g_state->logDir = result.logDir;
    }
    for (PrinterEntry& entry : result.printers) {
        entry.config.deviceId = entry.deviceId.empty() ? nullptr : entry.deviceId.data();
        entry.config.deviceIdLength = static_cast<uint32_t>(entry.deviceId.size());
        std::vector<QorlSimFault> faults;
        for (const QorlSimFault& fault : entry.faults) {
            if (fault.kind == QORLSIM_FAULT_REGISTER_REFUSED) {
                g_state->globalFaults.push_back(fault);
            } else {
                faults.push_back(fault);
            }
        }
        AddPrinterLocked(entry.config, faults, files);
    }
    return static_cast<int>(result.printers.size());
}

// Keeps the library in memory from the first use on: the lanes' threads run its code, so the
// module must never be unmapped under them.
void EnsureStarted() {
    if (g_state->started) {
        return;
    }
    g_state->started = true;
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&EnsureStarted), &self);
    char path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("QORLIB_CONFIG", path, sizeof(path));
    if (n > 0 && n < sizeof(path)) {
        FileWork files; // no printer yet whose files it could close
        int added = LoadConfigLocked(path, &files);
        if (added < 0) {
            DebugLine("configuration not loaded: " + g_state->lastError);
        } else {
            DebugLine("configuration " + std::string(path) + ": " + std::to_string(added) +
                      " printer(s)");
        }
    }
}

} // namespace qorsim
