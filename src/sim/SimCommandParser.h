// Splits the clock's command stream into commands. Commands carry no
// terminator, so the text is matched byte by byte against everything the
// clock understands: a text that is still the start of some command waits for
// more, a complete one is handed out, and one that can no longer become a
// command is refused.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

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
    // afterPause: the line was quiet before c for as long as the program
    // waits after a break. A pseudo-terminal cannot show the break, so a
    // command may begin at c with the pending text abandoned: from c on the
    // parser follows both readings, and one that can no longer become a
    // command is dropped without a '?', as the break would have dropped it.
    TResult Feed(char c, bool afterPause = false);
    void Reset() {
        m_pending.clear();
        m_starts.clear();
    }
    const std::string& Pending() const { return m_pending; }

    static bool IsCommandPrefix(const std::string& text);
    static bool IsCommand(const std::string& text);

    // What the clock understands, from its own lists: the models it plays as
    // "NAME<TAB>MODELTEXT" lines, in order, and every fixed command text,
    // sorted (the set-time command carries a time and is left out).
    static std::vector<std::string> ModelLines();
    static const std::vector<std::string>& CommandTexts();

private:
    TResult FeedPending(char c);

    std::string m_pending;
    // Where in m_pending a command may have begun after a pause, ascending;
    // m_pending itself is the oldest reading.
    std::vector<std::size_t> m_starts;
};
