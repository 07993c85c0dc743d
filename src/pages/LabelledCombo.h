// Lists named by their labels for a screen reader. On Linux Qt names a combo
// box by the entry it shows ("K201", "9600") and leaves its label to a
// relation, so a reader that reads names says the value twice and never
// what the list is for. Here a combo box's name is its accessible name, else
// its label's text; the entry stays its value (and its typing field's text).
// A combo box with neither keeps the entry as its name.
#pragma once

class CLabelledCombo {
public:
    // Once per process, with the application made; later calls do nothing.
    static void Install();
};
