// Small text and time helpers the layers share; one copy of each.
#pragma once

#include <string>
#include <string_view>

// Milliseconds of the monotonic clock: for deadlines, never for dates.
long long NowMs();

// The text without the blanks and tabs at either end.
std::string_view Trim(std::string_view text);

// Equal but for the case of ASCII letters (names in the profile, port names).
bool EqualNoCase(std::string_view a, std::string_view b);

// The text up to its first line feed (all of it when it has none).
std::string FirstLine(const std::string& text);

// Text from outside (a file, the clock, the profile, a device) as it may be
// shown at a terminal: what the terminal would act on is made visible. Tab,
// line feed and carriage return show as \t, \n and \r; other C0 controls,
// DEL, C1 controls and bytes that are not UTF-8 as \xNN. Printable UTF-8 and
// backslashes stay as they are, so shown text shown again is unchanged.
// keepLineFeeds: line feeds stay line breaks (a message of several lines).
std::string VisibleText(std::string_view text, bool keepLineFeeds = false);

// A whole decimal number, optionally signed, within [min, max]; nothing else
// in the text.
bool ParseWhole(const std::string& text, long long min, long long max, long long& value);
