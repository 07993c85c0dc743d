// Every user-visible text is looked up by its numeric id.
#pragma once

#include <string>

// False (and out untouched) when the table has no string with this id.
bool LoadString(unsigned id, std::string& out);

// The text, or the empty string when missing; for callers that have checked.
std::string GetString(unsigned id);

// printf-style formatting into a std::string.
std::string FormatString(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
