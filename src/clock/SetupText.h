// The editable text form of a setup, the form kept in version control:
//
//   # Baud Rate: "1200", "2400", "4800", "9600", "19200"
//   3 = 9600
//
// One "ITEM = VALUE" line per setup item, ITEM its number, grouped as the
// setup tree groups them (items the tree does not show come last), each
// after a comment with its label and the values it takes. VALUE is what the
// setup tree shows: a choice text (any case) or a whole number, checked as
// the setup pages check it. A stored value that no such text brings back
// exactly (a byte the clock never writes, a number outside the range) is
// written "raw N": N is stored as the record holds it, unchecked. Record bits
// that no item holds are written "byte OFFSET = N" when any is set.
//
// Reading it back needs every item: a missing one is refused, naming it, so
// a line deleted by mistake never becomes a silent zero. Blank lines and
// lines starting with '#' are skipped; anything else is refused with its
// line number.
#pragma once

#include <string>

#include "ClockConfig.h"

// The text form of the record; reading it back gives the same record.
std::string SetupToText(const TClockConfig& config);

// Builds a record from the text form. On refusal returns false with one line
// saying why, starting "line N: " when a line is at fault; config is then
// left as it was.
bool SetupFromText(const std::string& text, TClockConfig& config, std::string& error);

// Texts longer than this are refused unread.
constexpr std::size_t SETUP_TEXT_MAX_SIZE = 1 << 20;
