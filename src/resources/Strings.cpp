#include "Strings.h"

// Filled in by id origin; lookups sort a copy.
const TStringEntry g_stringTable[] = {
    {102, "Halvern Systems"},
};
const std::size_t g_stringTableSize = sizeof(g_stringTable) / sizeof(g_stringTable[0]);
