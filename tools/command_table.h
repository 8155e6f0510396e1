#pragma once
// The commands of prnlink.exe, one handler each, as the command table lists them.

#include "commands.h"

namespace prnlink {

int CommandPorts(const Options& options);
int CommandStatus(const Options& options);
int CommandDeviceId(const Options& options);
int CommandPrint(const Options& options);
int CommandAddPort(const Options& options);
int CommandDeletePort(const Options& options);
int CommandTimeout(const Options& options);
int CommandDevices(const Options& options);
int CommandInstall(const Options& options);
int CommandUninstall(const Options& options);
int CommandDoctor(const Options& options);

} // namespace prnlink
