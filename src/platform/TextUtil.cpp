#include "TextUtil.h"

#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The length of the UTF-8 sequence that starts text[at] when it is a whole,
// shortest-form one of a character beyond ASCII that is no C1 control; 0
// otherwise.
std::size_t PrintableSequence(std::string_view text, std::size_t at) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    std::size_t size = 0;
    unsigned char low = 0x80, high = 0xBF;  // the allowed second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        size = 2;
        if (lead == 0xC2) low = 0xA0;  // U+0080..U+009F are the C1 controls
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        size = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        size = 4;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
    } else {
        return 0;
    }
    if (text.size() - at < size) return 0;
    const unsigned char second = static_cast<unsigned char>(text[at + 1]);
    if (second < low || second > high) return 0;
    for (std::size_t k = 2; k < size; ++k)
        if (!IsContinuation(static_cast<unsigned char>(text[at + k]))) return 0;
    return size;
}
}  // namespace

long long NowMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

std::string VisibleText(std::string_view text, bool keepLineFeeds) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        if ((c >= 0x20 && c < 0x7F) || (c == '\n' && keepLineFeeds)) {
            out += static_cast<char>(c);
            ++at;
        } else if (const std::size_t size = c >= 0x80 ? PrintableSequence(text, at) : 0) {
            out.append(text, at, size);
            at += size;
        } else {
            if (c == '\t') {
                out += "\\t";
            } else if (c == '\n') {
                out += "\\n";
            } else if (c == '\r') {
                out += "\\r";
            } else {
                char escaped[5];
                std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
                out += escaped;
            }
            ++at;
        }
    }
    return out;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c; };
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

bool ParseWhole(const std::string& text, long long min, long long max, long long& value) {
    if (text.empty() || text.size() > 20) return false;
    const std::size_t start = (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (start == text.size()) return false;
    for (std::size_t k = start; k < text.size(); ++k)
        if (text[k] < '0' || text[k] > '9') return false;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE || v < min || v > max) return false;
    value = v;
    return true;
}
