// Splits the clock's command stream into commands. Commands carry no
// terminator, so the text is matched byte by byte against everything the
// clock understands: a text that is still the start of some command waits for
// more, a complete one is handed out, and one that can no longer become a
// command is refused.
#pragma once

#include <string>

class CSimCommandParser {
public:
    struct TResult {
        bool rejected = false;  // the text so far was thrown away: answer '?'
        bool complete = false;  // command holds a whole command to carry out
        std::string command;
    };

    // Takes one received byte. After a rejection the parser keeps the longest
    // tail of the text that can still start a command, so a good command
    // typed after garbage is not lost.
    TResult Feed(char c);
    void Reset() { m_pending.clear(); }
    const std::string& Pending() const { return m_pending; }

    static bool IsCommandPrefix(const std::string& text);
    static bool IsCommand(const std::string& text);

private:
    std::string m_pending;
};
