// The Telnet / Com Port Control stream from a terminal server: whatever
// arrives, however it is cut into blocks.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "TelnetStream.h"

namespace {

bool SameEvents(const std::vector<Telnet::TEvent>& a, const std::vector<Telnet::TEvent>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].verb != b[i].verb || a[i].option != b[i].option || a[i].payload != b[i].payload) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte: the block size to cut the rest into, and the mode.
    const std::size_t block = (data[0] & 0x3F) + 1;
    const bool binary = (data[0] & 0x40) != 0;
    ++data;
    --size;

    Telnet::CDecoder whole;
    whole.SetBinaryIn(binary);
    std::string wholeOut;
    std::vector<Telnet::TEvent> wholeEvents;
    whole.Feed(data, size, wholeOut, wholeEvents);
    FUZZ_CHECK(wholeOut.size() <= size);
    for (const auto& e : wholeEvents) FUZZ_CHECK(e.payload.size() <= Telnet::kMaxSubnegotiation);

    // Cut anywhere, the same data and the same commands.
    Telnet::CDecoder cut;
    cut.SetBinaryIn(binary);
    std::string cutOut;
    std::vector<Telnet::TEvent> cutEvents;
    for (std::size_t at = 0; at < size; at += block)
        cut.Feed(data + at, std::min(block, size - at), cutOut, cutEvents);
    FUZZ_CHECK(cutOut == wholeOut);
    FUZZ_CHECK(SameEvents(cutEvents, wholeEvents));

    // What we send of any data comes back as that data and nothing else.
    const std::string escaped = Telnet::Escape(data, size);
    Telnet::CDecoder back;
    back.SetBinaryIn(true);
    std::string backOut;
    std::vector<Telnet::TEvent> backEvents;
    back.Feed(reinterpret_cast<const std::uint8_t*>(escaped.data()), escaped.size(), backOut, backEvents);
    FUZZ_CHECK(backEvents.empty());
    FUZZ_CHECK(backOut == std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
