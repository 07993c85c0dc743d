// The simulated clock's command parser: the bytes a program (or a person on
// the Console page) sends it.
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "SimCommandParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CSimCommandParser parser;
    std::string fedSinceCommand;
    for (std::size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        fedSinceCommand.push_back(c);
        const CSimCommandParser::TResult r = parser.Feed(c);
        if (r.complete) {
            FUZZ_CHECK(CSimCommandParser::IsCommand(r.command));
            FUZZ_CHECK(parser.Pending().empty());
            // A command is the tail of what was fed.
            FUZZ_CHECK(fedSinceCommand.size() >= r.command.size());
            FUZZ_CHECK(fedSinceCommand.compare(fedSinceCommand.size() - r.command.size(), r.command.size(),
                                               r.command) == 0);
            fedSinceCommand.clear();
        } else {
            FUZZ_CHECK(r.command.empty());
            // What waits can still become a command, and is no longer than one.
            FUZZ_CHECK(parser.Pending().empty() || CSimCommandParser::IsCommandPrefix(parser.Pending()));
            FUZZ_CHECK(parser.Pending().size() <= 18);
        }
    }
    // Whole commands fed afterwards are recognised whatever came before.
    parser.Feed('?');
    for (const char* command : {"1,K205XT", "TU"}) {
        CSimCommandParser::TResult r;
        for (const char* p = command; *p; ++p) r = parser.Feed(*p);
        FUZZ_CHECK(r.complete && r.command == command);
    }
    return 0;
}
