#include "ClockUi.h"

#include "Messages.h"
#include "Waits.h"

namespace {

// Without a user interface the countdown simply waits its seconds.
class CSilentCountdown : public ICountdown {
public:
    CSilentCountdown(int lower, int upper, int step) : m_lower(lower), m_upper(upper), m_step(step) {}
    int DoModal() override {
        if (m_step <= 0) return IDOK;
        for (int pos = m_lower; pos < m_upper; pos += m_step) SleepMs(1000);
        return IDOK;
    }
    void SetRange(int lower, int upper) override {
        m_lower = lower;
        m_upper = upper;
    }

private:
    int m_lower, m_upper, m_step;
};

}  // namespace

std::unique_ptr<ICountdown> MakeSilentCountdown(int lower, int upper, int step) {
    return std::make_unique<CSilentCountdown>(lower, upper, step);
}
