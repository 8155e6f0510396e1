#include "ports/port_record.h"

#include <cwchar>

BOOL ParsePortAddress(const wchar_t* name, uint8_t out[6]) {
    if (name == nullptr) {
        return FALSE;
    }
    unsigned int bytes[6] = {};
    int channel = 0;
    int converted = swscanf(name, L"%02x:%02x:%02x:%02x:%02x:%02x.%d", &bytes[0], &bytes[1],
                            &bytes[2], &bytes[3], &bytes[4], &bytes[5], &channel);
    if (converted != 6 && converted != 7) {
        return FALSE;
    }
    for (int i = 0; i < 6; ++i) {
        out[i] = static_cast<uint8_t>(bytes[i]);
    }
    return TRUE;
}
