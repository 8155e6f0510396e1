#pragma once
// What every low-resource run starts from and is checked against: two simulated printers on
// the stack process, the device database listing them, the retry time-out setting and no
// profile entries of the runs' own ports.

#include <windows.h>

#include <cstdint>
#include <string>

namespace lowres {

struct WorldPrinter {
    const char* name; // the device record's name, and so its port's name
    uint8_t address[6];
    std::wstring Port() const;
    std::wstring AddressName() const; // "00:11:22:33:44:A1"
};
// Listed in the database from the start.
extern const WorldPrinter kPrinterA;
extern const WorldPrinter kPrinterB;
// On the air, but listed only when a scenario adds its record.
extern const WorldPrinter kPrinterC;
extern const char* const kDeviceId;
// The port that the scenarios add by name: printer C's address.
std::wstring AddedPortName();
// A port added by name on printer A's address, which OpenPort rebuilds from A's record.
std::wstring RebuiltPortName();
extern const wchar_t* const kPrinterName; // the spooler's printer on printer A's port

// Starts the stack process (when it does not run) and adds the printers. False with a
// message when it cannot.
bool StartWorld(std::string* error);
void StopWorld();
// The database, the setting and the profile back as a run starts; the printers' sinks
// emptied and their faults cleared.
void ResetWorld();

// The database's bytes as a run starts, and with one more or one less printer.
std::string StartingDatabase();
std::string DatabaseWith(const WorldPrinter& added);
std::string DatabaseWithout(const WorldPrinter& removed);

// The retry time-out text in the registry ("<absent>" when missing) and the run's profile
// entry for a port.
std::wstring SettingText();
void RemoveSetting();
bool ProfileHas(const std::wstring& port);

// The printers whose channels are still open ("" when none), after the stack has delivered
// what it had; their channels are then closed from the printer's side, so that the next run
// finds them free.
std::string CloseLinksLeftOpen();

// What printer A received since the last reset.
std::string SinkOfA();
void ClearSinkOfA();

} // namespace lowres
