// Placeholder until the registry shim is built.
#include "entry/registry_shim.h"
#include "ports/port_record.h"

MONITORREG* CreateRegistryShim() {
    auto* table = static_cast<MONITORREG*>(AllocZeroedMemory(sizeof(MONITORREG)));
    if (table != nullptr) {
        table->cbSize = sizeof(MONITORREG);
    }
    return table;
}
