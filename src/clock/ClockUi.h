// What the clock layer tells the user, handed to CClockState by whoever runs
// it: the GUI, tarvelctl and tests each pass their own. Without one the state
// stays quiet: messages go nowhere and countdowns just wait their seconds.
#pragma once

#include <functional>
#include <memory>
#include <string>

// The countdown a write to the clock waits in. DoModal returns IDOK when the
// count ran out or OK was pressed, IDCANCEL when cancelled; it may run again.
class ICountdown {
public:
    virtual ~ICountdown() = default;
    virtual int DoModal() = 0;
    virtual void SetRange(int lower, int upper) = 0;
    // The stage of the write the next run waits for, shown beside the count.
    virtual void SetStage(const std::string& stage) { (void)stage; }
};

class IClockUi {
public:
    virtual ~IClockUi() = default;
    // A message with an OK button: a refused file, a read-back that did not
    // match, a value out of range.
    virtual void ShowMessage(const std::string& text) = 0;
    // The countdown a write waits in between its stages (lower..upper by
    // step). Null: the silent one.
    virtual std::unique_ptr<ICountdown> MakeCountdown(int lower, int upper, int step) = 0;
};

// Counts whole seconds without a word (SleepMs per step) and returns IDOK.
std::unique_ptr<ICountdown> MakeSilentCountdown(int lower, int upper, int step);

// Messages to a function, silent countdowns: for tools and tests that only
// want the words.
class CClockMessageUi : public IClockUi {
public:
    explicit CClockMessageUi(std::function<void(const std::string&)> show) : m_show(std::move(show)) {}
    void ShowMessage(const std::string& text) override {
        if (m_show) m_show(text);
    }
    std::unique_ptr<ICountdown> MakeCountdown(int lower, int upper, int step) override {
        return MakeSilentCountdown(lower, upper, step);
    }

private:
    std::function<void(const std::string&)> m_show;
};
