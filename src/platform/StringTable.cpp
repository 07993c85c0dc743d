#include "StringTable.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "Strings.h"

namespace {

// Both parts, sorted once on first use; the tables are written in the order
// of the ids' origin.
const std::vector<TStringEntry>& SortedTable() {
    static const std::vector<TStringEntry> table = [] {
        std::vector<TStringEntry> t(g_stringTable, g_stringTable + g_stringTableSize);
        t.insert(t.end(), g_setupStringTable, g_setupStringTable + g_setupStringTableSize);
        std::stable_sort(t.begin(), t.end(),
                         [](const TStringEntry& a, const TStringEntry& b) { return a.id < b.id; });
        return t;
    }();
    return table;
}

}  // namespace

bool LoadString(unsigned id, std::string& out) {
    const auto& t = SortedTable();
    auto it = std::lower_bound(t.begin(), t.end(), id,
                               [](const TStringEntry& e, unsigned v) { return e.id < v; });
    if (it == t.end() || it->id != id) return false;
    out = it->text;
    return true;
}

std::string GetString(unsigned id) {
    std::string s;
    LoadString(id, s);
    return s;
}

std::string FormatString(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    va_list ap2;
    va_copy(ap2, ap);
    int n = std::vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    std::string out;
    if (n > 0) {
        out.resize(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(out.data(), out.size(), fmt, ap2);
        out.resize(static_cast<std::size_t>(n));
    }
    va_end(ap2);
    return out;
}
