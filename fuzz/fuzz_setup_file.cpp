// A setup file as the user may pick it: any bytes, any length.
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>

#include "ClockState.h"
#include "FileError.h"
#include "FuzzCheck.h"
#include "Waits.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::istringstream in(bytes);
    CClockState state;
    TLoadResult result = TLoadResult::Refused;
    try {
        result = state.Serialize(in);
    } catch (const CFileError&) {
        FUZZ_CHECK(!state.IsValid());
        return 0;
    }
    if (result != TLoadResult::Loaded) {
        FUZZ_CHECK(!state.IsValid());
        return 0;
    }
    // A file that loads is stored back byte for byte, and dumps.
    FUZZ_CHECK(state.IsValid());
    FUZZ_CHECK(size >= CClockState::FILE_SIZE);
    std::ostringstream out;
    state.Serialize(out);
    FUZZ_CHECK(out.str() == bytes.substr(0, CClockState::FILE_SIZE));
    std::ostringstream dump;
    state.Dump(dump);
    FUZZ_CHECK(!dump.str().empty());
    return 0;
}
