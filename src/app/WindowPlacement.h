// The main window's place and size kept in the profile (section "Window")
// from one run to the next.
#pragma once

class QWidget;

class CWindowPlacement {
public:
    // The place and size from the profile, when they put the window on a
    // screen; false (and the window left where it is) otherwise.
    static bool Restore(QWidget& window);
    // The window's normal place, also when it is minimised or maximised.
    static void Save(const QWidget& window);
};
