// The string table: every user-visible text with its id.
#pragma once

#include <cstddef>

struct TStringEntry {
    unsigned id;
    const char* text;
};

// The program's texts (Strings.cpp) and the setup items' (SetupStrings.cpp);
// an id is in one of them only.
extern const TStringEntry g_stringTable[];
extern const std::size_t g_stringTableSize;
extern const TStringEntry g_setupStringTable[];
extern const std::size_t g_setupStringTableSize;
