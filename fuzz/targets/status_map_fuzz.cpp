// The line-status map over every status byte of the input.

#include "check.h"
#include "job/status_map.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        const uint8_t status = data[i];
        const LineStatusMapping mapping = MapLineStatus(status);
        FUZZ_CHECK(mapping.ready == (status == LINE_STATUS_READY));
        FUZZ_CHECK(mapping.severity == 1);
        FUZZ_CHECK((mapping.text == PortStatusText::NotPoweredOn) ==
                   (status == LINE_STATUS_NOT_POWERED));
        FUZZ_CHECK(mapping.text == PortStatusText::None ||
                   mapping.text == PortStatusText::NotPoweredOn);
        if (mapping.ready || mapping.text == PortStatusText::NotPoweredOn) {
            FUZZ_CHECK(mapping.portStatus == 0 && mapping.setsPrinterStatus);
        } else if ((status & LINE_PAPER_EMPTY) != 0) {
            FUZZ_CHECK(mapping.portStatus == 3); // paper out
        } else if ((status & (LINE_NO_FAULT | LINE_SELECT)) != (LINE_NO_FAULT | LINE_SELECT)) {
            FUZZ_CHECK(mapping.portStatus == 1); // offline
        } else {
            FUZZ_CHECK(mapping.portStatus == 0 && !mapping.setsPrinterStatus);
        }
        if (!mapping.setsPrinterStatus) {
            FUZZ_CHECK(mapping.printerStatus == 0);
        }
    }
    return 0;
}
