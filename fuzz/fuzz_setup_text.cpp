// A setup text as the user may have edited it: any bytes, any length.
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzCheck.h"
#include "SetupDiff.h"
#include "SetupText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    TClockConfig config;
    std::memset(&config, 0x5A, sizeof config);
    const TClockConfig before = config;
    std::string error;
    if (!SetupFromText(text, config, error)) {
        // Refused: the record is untouched and the reason given.
        FUZZ_CHECK(std::memcmp(&config, &before, sizeof config) == 0);
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    // Taken: its own text form reads back to the very same record.
    TClockConfig again;
    std::memset(&again, 0, sizeof again);
    FUZZ_CHECK(SetupFromText(SetupToText(config), again, error));
    FUZZ_CHECK(std::memcmp(&config, &again, sizeof config) == 0);
    FUZZ_CHECK(DiffSetups(config, again).Equal());
    return 0;
}
