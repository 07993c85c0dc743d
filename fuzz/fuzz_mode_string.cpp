// The port's "Mode" string from the profile or the Comm Port page.
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzCheck.h"
#include "ModeString.h"

namespace {

bool SameLine(const DCB& a, const DCB& b) {
    return a.BaudRate == b.BaudRate && a.ByteSize == b.ByteSize && a.Parity == b.Parity &&
           a.StopBits == b.StopBits && a.fParity == b.fParity && a.fOutxCtsFlow == b.fOutxCtsFlow &&
           a.fOutxDsrFlow == b.fOutxDsrFlow && a.fDtrControl == b.fDtrControl &&
           a.fDsrSensitivity == b.fDsrSensitivity && a.fTXContinueOnXoff == b.fTXContinueOnXoff &&
           a.fOutX == b.fOutX && a.fInX == b.fInX && a.fRtsControl == b.fRtsControl;
}

bool SameBytes(const DCB& a, const DCB& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string mode(reinterpret_cast<const char*>(data), size);  // stops at a NUL for the parser
    DCB start{};
    start.BaudRate = 9600;
    start.ByteSize = 8;
    DCB dcb = start;
    if (!BuildCommDCB(mode.c_str(), dcb)) {
        FUZZ_CHECK(SameBytes(dcb, start));  // a refusal leaves the DCB alone
        return 0;
    }
    FUZZ_CHECK(dcb.DCBlength == 28 && dcb.fBinary);
    // What the parser took is written back in a form it takes to the same values.
    const std::string formatted = FormatModeString(dcb);
    if (!formatted.empty()) {
        DCB again = start;
        FUZZ_CHECK(BuildCommDCB(formatted.c_str(), again));
        FUZZ_CHECK(SameLine(dcb, again));
        FUZZ_CHECK(FormatModeString(again) == formatted);
    }
    return 0;
}
