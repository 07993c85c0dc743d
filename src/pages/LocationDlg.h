// The "Location" page: the PC's local time and GMT, refreshed every second,
// its time-zone name, its offset from GMT in whole hours offered as the
// clock's local offset, and the two time transfers: the PC clock set from the
// GPS clock's time, and the GPS clock set from the PC's. Every failure here is
// told by a beep, and every transfer ends with a status text that says what
// happened.
#pragma once

#include <ctime>
#include <functional>
#include <string>

#include <QTimer>

#include "ClockResult.h"
#include "CommPage.h"
#include "SystemClock.h"

class CClockWatch;
class QLabel;
class QLineEdit;
class QPushButton;

class CLocationDlg : public CCommPage {
public:
    // Sets the PC clock to a UTC time; replaced in tests.
    using ClockSetter = std::function<CSystemClock::TResult(std::time_t utc)>;

    explicit CLocationDlg(QWidget* parent = nullptr);
    ~CLocationDlg() override;

    // The PC's offset from GMT now, daylight saving included, in whole hours
    // truncated toward zero (UTC+5:30 gives 5, UTC-3:30 gives -3).
    static int GetLocalOffsetHours();
    // The zone's daylight-time name when it has a daylight rule at all, else
    // its standard name.
    static std::string GetTimeZoneName();
    // The asctime form with English names, e.g. "Wed Jan 02 02:03:55 1980\n".
    static std::string FormatAscTime(const std::tm& time);
    // A whole signed number with blanks around it allowed; false otherwise.
    static bool ParseSignedInt(const std::string& text, int& value);
    // The clock's answer to the time request, "%d:%d:%d:%d" (day, hour,
    // minute, second of UTC), made into the time to set: the PC's UTC date
    // with the clock's time of day, plus one second for the reply's way.
    // False when the text does not hold four numbers or a valid time of day.
    static bool TimeFromReply(const char* reply, std::time_t pcNowUtc, std::time_t& result);

    // Timer tick: both time texts afresh.
    void OnTimer();
    // "Apply": the offset in hours into the setup's local offset (minutes).
    void OnApplyOffset();
    // "Clock Time -> PC" and "PC Time -> Clock".
    void OnClockTimeToPC();
    void OnPCTimeToClock();

    void SetClockSetter(ClockSetter setter) { m_setClock = std::move(setter); }
    // The system beep that tells every failure here; replaced in tests (an
    // empty one restores the system's).
    void SetBeeper(std::function<void()> beeper) { m_beeper = std::move(beeper); }

    const std::string& GetLocalTimeText() const { return m_strLocalTime; }
    const std::string& GetGMTText() const { return m_strGMT; }
    const std::string& GetTimeZoneText() const { return m_strTimeZone; }
    // The watch of the clock's time; null until the page is first shown.
    CClockWatch* GetWatch() const { return m_watch; }

protected:
    bool OnInitDialog() override;
    void OnPortStateChanged() override;
    void OnClockStateChanged() override;

private:
    void ClockTimeToPC(CCommPort& port, CClockState& state);
    void PCTimeToClock(CCommPort& port, CClockState& state);
    // The result of a time transfer in the status line.
    void ShowResult(unsigned id);
    // The same with the clock's reason after it.
    void ShowResult(unsigned id, const TClockResult& why);
    // Runs work as the sheet's clock command (nothing else starts meanwhile);
    // false when another command is running.
    bool RunWithSheet(unsigned busyText, const std::function<void()>& work);
    void Beep();

    QPushButton* m_btnClockToPC = nullptr;
    QPushButton* m_btnPCToClock = nullptr;
    QPushButton* m_btnApply = nullptr;
    QLineEdit* m_editOffset = nullptr;
    QLabel* m_staticLocalTime = nullptr;
    QLabel* m_staticGMT = nullptr;
    QLabel* m_staticTimeZone = nullptr;
    CClockWatch* m_watch = nullptr;

    std::string m_strGMT;
    std::string m_strLocalOffset;
    std::string m_strLocalTime;
    std::string m_strTimeZone;
    QTimer m_nTimer;
    ClockSetter m_setClock;
    std::function<void()> m_beeper;
};
