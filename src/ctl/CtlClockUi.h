// The countdown a write to the clock waits in, for tarvelctl: "Countdown N..."
// on stderr, updated in place once a second down to 0. Ctrl-C cancels it.
#pragma once

#include "Prompts.h"

class CCtlCountdown : public ICountdown {
public:
    explicit CCtlCountdown(int seconds) : m_seconds(seconds) {}

    // IDOK when the count ran out, IDCANCEL on Ctrl-C.
    int DoModal() override;
    // The length is the user's (--countdown), whatever range the write asks for.
    void SetRange(int, int) override {}

private:
    int m_seconds;
};
