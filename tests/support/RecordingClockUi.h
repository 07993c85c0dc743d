// A clock UI for tests: keeps every message, and makes the countdowns the
// test gives it (by default ones that answer OK at once).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ClockUi.h"
#include "Messages.h"

class CAnswerAtOnce : public ICountdown {
public:
    int DoModal() override { return IDOK; }
    void SetRange(int, int) override {}
};

class CRecordingClockUi : public IClockUi {
public:
    using Factory = std::function<std::unique_ptr<ICountdown>(int lower, int upper, int step)>;

    CRecordingClockUi() = default;
    explicit CRecordingClockUi(Factory factory) : m_factory(std::move(factory)) {}

    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    std::unique_ptr<ICountdown> MakeCountdown(int lower, int upper, int step) override {
        if (m_factory) return m_factory(lower, upper, step);
        return std::make_unique<CAnswerAtOnce>();
    }

    std::vector<std::string> messages;

private:
    Factory m_factory;
};
