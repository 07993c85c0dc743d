// The string table: every user-visible text with its id.
#pragma once

#include <cstddef>

struct TStringEntry {
    unsigned id;
    const char* text;
};

extern const TStringEntry g_stringTable[];
extern const std::size_t g_stringTableSize;
