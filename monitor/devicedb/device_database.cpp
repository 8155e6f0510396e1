// Placeholder until the device database is built.
#include "devicedb/device_database.h"

#include <cstring>

DeviceDatabase::DeviceDatabase() : record{}, path{}, recordSize(DEVICE_RECORD_SIZE) {}
int DeviceDatabase::CountRecords() { return -1; }
int DeviceDatabase::ReadAddresses(int, uint8_t (*)[6]) { return -1; }
int DeviceDatabase::FindRecord(const uint8_t*, char* name, uint16_t* controlPsm,
                               uint16_t* dataPsm, uint16_t* thirdValue) {
    memset(name, 0, DEVICE_NAME_FIELD_SIZE);
    *controlPsm = *dataPsm = *thirdValue = 0;
    return DEVICE_DATABASE_UNREADABLE;
}
BOOL DeviceDatabase::DeleteRecord(const uint8_t*) { return FALSE; }
