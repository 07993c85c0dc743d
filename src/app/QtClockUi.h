// What the clock layer and the port tell the user, the Qt way: a message box
// (OK button, warning icon, the program's name as title) and the countdown
// dialog, both belonging to the window that owns this object.
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

#include "ClockUi.h"

class CQtClockUi : public IClockUi {
public:
    explicit CQtClockUi(QWidget* owner) : m_owner(owner) {}

    void ShowMessage(const std::string& text) override { ShowMessage(text, std::string()); }
    // The box with a line under its text that says why (none when empty).
    void ShowMessage(const std::string& text, const std::string& detail);
    // That box, not yet shown.
    std::unique_ptr<QMessageBox> MakeBox(const std::string& text, const std::string& detail) const;
    std::unique_ptr<ICountdown> MakeCountdown(int lower, int upper, int step) override;

    // Tests take the boxes' texts instead of showing them; an empty handler
    // shows boxes again.
    using BoxHandler = std::function<void(const std::string& text, const std::string& detail)>;
    void SetBoxHandler(BoxHandler handler) { m_boxHandler = std::move(handler); }

private:
    QPointer<QWidget> m_owner;
    BoxHandler m_boxHandler;
};
