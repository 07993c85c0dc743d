// What the clock layer tells the user, handed to CClockState by whoever runs
// it: the GUI, tarvelctl and tests each pass their own. Without one the state
// stays quiet: messages go nowhere and countdowns just wait their seconds.
#pragma once

#include <memory>
#include <string>

#include "Prompts.h"

class IClockUi {
public:
    virtual ~IClockUi() = default;
    // A message with an OK button: a refused file, a read-back that did not
    // match, a value out of range.
    virtual void ShowMessage(const std::string& text) = 0;
    // The countdown a write waits in between its stages (lower..upper by step).
    virtual std::unique_ptr<ICountdown> MakeCountdown(int lower, int upper, int step) = 0;
};
