// The echo-checked command writer: the clock echoes every character it takes,
// so each byte is written alone and its echo awaited before the next.
#include <string>

#include "ClockModel.h"
#include "ClockState.h"
#include "CommPort.h"
#include "Profile.h"
#include "ProfileKeys.h"
#include "Prompts.h"  // the process-wide sleep
#include "Trace.h"

namespace {

// Read afresh on every command, so a changed setting applies at once. A
// negative value would mean an endless sleep on the old platform; none here.
unsigned CharDelayMs() {
    const int ms = GetProfileDelayMs(ProfileKeys::CHAR_DELAY, ProfileKeys::CHAR_DELAY_DEFAULT_MS);
    return ms > 0 ? static_cast<unsigned>(ms) : 0;
}

}  // namespace

bool CClockModel::WriteCommand(CCommPort& port, TClockCommand command, int tries) const {
    std::string text;
    FormatCommand(text, command);
    // A stale reply of an earlier command must not be taken for an echo.
    if (!port.FlushWrites(3)) return false;
    const unsigned delay = CharDelayMs();

    // The command counts as written only when every byte reached the clock
    // exactly once: written once and echoed back right away. A byte sent again
    // after a missing, late or wrong echo may now sit in the clock twice, so
    // the command has failed even if the resend is echoed. A write the port
    // refused put nothing on the line and may be repeated freely.
    bool result = !text.empty();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char sent = static_cast<unsigned char>(text[i]);
        int timesSent = 0;
        bool echoed = false;
        for (int attempt = 0; attempt < tries && !echoed; ++attempt) {
            if (!port.Write(&sent, 1)) {
                TRACE("CClockModel::WriteCommand(): Failed to write byte %d(%c) of %s command to comm port.\n",
                      static_cast<int>(i), sent, text.c_str());
                continue;
            }
            ++timesSent;
            // Read does not wait: this pause is all the time the clock has to echo.
            SleepMs(delay);
            unsigned char echo = 0;
            unsigned count = 1;
            if (!port.Read(&echo, count) || count != 1) {
                TRACE("CClockModel::WriteCommand(): Failed to read echo byte %d(%c) \t\t\t\t\tof %s command from comm port.\n",
                      static_cast<int>(i), sent, text.c_str());
                continue;
            }
            if (echo == sent) {
                echoed = true;
            } else {
                TRACE("CClockModel::WriteCommand(): \t\t\t\t\techo byte (%c)!= send byte (%c) of %s command from comm port.\n",
                      echo, sent, text.c_str());
            }
        }
        // A byte out of attempts does not stop the command: the rest is sent
        // as before, only the result tells.
        if (!echoed || timesSent != 1) result = false;
    }
    if (result) TRACE("CClockModel::WriteCommand(): Wrote command %s sucessfully.\n", text.c_str());
    return result;
}

bool CClockState::SendCommand(CCommPort& port, TClockCommand command) {
    return m_model.WriteCommand(port, command, 5);
}
