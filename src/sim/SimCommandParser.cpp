#include "SimCommandParser.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace {

// The models the clock plays, each with the model text its commands carry:
// the clock's own list, on purpose (it plays a peer that must not share the
// program's mistakes); a test checks that the two agree.
struct TSimModel {
    const char* name;
    const char* text;
};
constexpr TSimModel SIM_MODELS[] = {
    {"K201", "K201"}, {"K202", "K202"}, {"K203", "K203"},
    {"K204", "K204"}, {"K205", "K205"}, {"K206", "K205"},  // K206 sends the K205 text
};

// Never freed: the process-wide simulated clock may still be parsing on its
// own thread while static objects are destroyed at exit.
const std::vector<std::string>& FixedCommands() {
    static const std::vector<std::string>& commands = *new std::vector<std::string>([] {
        std::vector<std::string> list{"v", "TU", "b0"};
        for (const TSimModel& model : SIM_MODELS) {
            const std::string m(model.text);
            for (char op : {'O', 'T', 'R', 'S', 'X'}) list.push_back("1," + m + "X" + op);
            list.push_back("0,0," + m + "XZ");
        }
        std::sort(list.begin(), list.end());
        list.erase(std::unique(list.begin(), list.end()), list.end());
        return list;
    }());
    return commands;
}

// The set-time command: "YYYY:MM:DD:HH:MMTS", '#' standing for a digit.
constexpr const char SET_TIME_PATTERN[] = "####:##:##:##:##TS";
constexpr std::size_t SET_TIME_LENGTH = sizeof(SET_TIME_PATTERN) - 1;

bool MatchesSetTime(const std::string& text) {
    if (text.size() > SET_TIME_LENGTH) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char want = SET_TIME_PATTERN[i];
        const unsigned char got = static_cast<unsigned char>(text[i]);
        if (want == '#' ? !std::isdigit(got) : got != static_cast<unsigned char>(want)) return false;
    }
    return true;
}

}  // namespace

std::vector<std::string> CSimCommandParser::ModelLines() {
    std::vector<std::string> lines;
    for (const TSimModel& model : SIM_MODELS) lines.push_back(std::string(model.name) + "\t" + model.text);
    return lines;
}

const std::vector<std::string>& CSimCommandParser::CommandTexts() { return FixedCommands(); }

bool CSimCommandParser::IsCommandPrefix(const std::string& text) {
    if (MatchesSetTime(text)) return true;
    for (const std::string& command : FixedCommands()) {
        if (command.compare(0, text.size(), text) == 0 && text.size() <= command.size()) return true;
    }
    return false;
}

bool CSimCommandParser::IsCommand(const std::string& text) {
    if (text.size() == SET_TIME_LENGTH && MatchesSetTime(text)) return true;
    for (const std::string& command : FixedCommands()) {
        if (command == text) return true;
    }
    return false;
}

CSimCommandParser::TResult CSimCommandParser::Feed(char c, bool afterPause) {
    if (afterPause && !m_pending.empty() && IsCommandPrefix(std::string(1, c))) {
        m_starts.push_back(m_pending.size());
    } else if (!afterPause && !m_starts.empty() && m_starts.back() + 1 == m_pending.size() && c == m_pending.back()) {
        // The byte after the pause sent again at once: a resend, no new command.
        m_starts.pop_back();
    }
    if (m_starts.empty()) return FeedPending(c);

    m_pending.push_back(c);
    std::vector<std::size_t> alive;
    for (std::size_t i = 0; i <= m_starts.size(); ++i) {
        const std::size_t start = i == 0 ? 0 : m_starts[i - 1];
        const std::string reading = m_pending.substr(start);
        if (IsCommand(reading)) {
            // Carried out at once; the oldest reading first, as it was not abandoned.
            Reset();
            return {false, true, reading};
        }
        if (IsCommandPrefix(reading)) alive.push_back(start);
    }
    if (alive.empty()) {
        // Every reading fails: the byte is refused as without the pause.
        m_pending.pop_back();
        m_starts.clear();
        return FeedPending(c);
    }
    // Readings that failed go silently; the oldest left is the pending text.
    const std::size_t first = alive.front();
    m_pending.erase(0, first);
    m_starts.clear();
    for (std::size_t i = 1; i < alive.size(); ++i) m_starts.push_back(alive[i] - first);
    return {};
}

CSimCommandParser::TResult CSimCommandParser::FeedPending(char c) {
    TResult result;
    m_pending.push_back(c);
    if (!IsCommandPrefix(m_pending)) {
        result.rejected = true;
        // Restart from the longest tail that can still begin a command.
        std::size_t start = 1;
        while (start < m_pending.size() && !IsCommandPrefix(m_pending.substr(start))) ++start;
        m_pending.erase(0, start);
    }
    // No command is the start of another, so a whole one is done at once.
    if (!m_pending.empty() && IsCommand(m_pending)) {
        result.complete = true;
        result.command.swap(m_pending);
        m_pending.clear();
    }
    return result;
}
