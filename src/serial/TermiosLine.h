// termios facts shared by the termios device and the simulated clock's end
// of its pseudo-terminal: the one baud table and the raw line.
#pragma once

#include <termios.h>

#include <cstdint>

// The termios speed code for a rate in baud; false for a rate it has none for.
bool RateToSpeed(std::uint32_t rate, speed_t& code);
// The rate a speed code stands for; 0 for B0 and codes not in the table.
std::uint32_t SpeedToRate(speed_t code);

// No echo, no line editing, no CR/LF translation, modem lines ignored,
// reads that never wait. The speed is left as it is.
void MakeRawLine(termios& tio);
