// Setting the PC's clock. A desktop user normally has no right to change the
// system time, so the request goes to systemd-timedated on the system bus,
// which asks for the user's authorisation through polkit. Without that
// service the time is set directly, which works only for a process that has
// the right (root, or CAP_SYS_TIME).
#pragma once

#include <ctime>
#include <string>

class CSystemClock {
public:
    enum TStatus {
        SET,             // the clock now shows the time asked for
        AUTOMATIC_SYNC,  // refused: the system keeps its time by itself (NTP)
        NOT_PERMITTED,   // refused: no right, or the authorisation was denied
        FAILED,          // anything else; m_detail tells what
    };

    struct TResult {
        TStatus m_status = FAILED;
        std::string m_detail;  // the system's own words, when it gave any

        bool IsSet() const { return m_status == SET; }
    };

    // Sets the system time to utc (whole seconds, UTC).
    static TResult SetUtc(std::time_t utc);

    // What the status line says about a refusal; empty for SET.
    static std::string DescribeFailure(const TResult& result);

    // Sorts a refused SetTime call by its D-Bus error name; names not known
    // here give FAILED.
    static TStatus ClassifyBusError(const std::string& errorName);
    // True when the error name means the service is not there at all, so the
    // direct way is worth a try.
    static bool IsServiceMissing(const std::string& errorName);

private:
    static bool SetThroughTimedated(std::time_t utc, TResult& result);
    static TResult SetDirectly(std::time_t utc);
};
