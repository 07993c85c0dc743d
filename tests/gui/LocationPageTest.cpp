// The Location page: zone and offset from the PC, the local offset into the
// setup, the two time transfers and the watch with a simulated clock. The PC
// clock is never touched: the page's clock setter is replaced.
#include <stdlib.h>

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "ClockPropSheet.h"
#include "ClockWatch.h"
#include "EchoPatience.h"
#include "GuiTestSupport.h"
#include "Profile.h"
#include "QtPromptHooks.h"
#include "Resource.h"
#include "SheetPrompts.h"
#include "SimClock.h"

namespace {

// Runs with the given zone and puts the previous one back.
class CZone {
public:
    explicit CZone(const char* tz) {
        if (const char* old = ::getenv("TZ")) m_old = old;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~CZone() {
        m_old ? ::setenv("TZ", m_old->c_str(), 1) : ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::optional<std::string> m_old;
};

std::time_t Utc(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{second, minute, hour, day, month - 1, year - 1900, 0, 0, 0, 0, nullptr};
    return ::timegm(&tm);
}

CLocationDlg& ShowLocation(CClockPropSheet& sheet) {
    // The clock's echo has time to come back on a loaded machine.
    WriteProfileInt("Communication", "CharDelay", 50);
    sheet.show();
    sheet.GetTabs()->setCurrentIndex(2);
    return sheet.GetLocationPage();
}

template <typename T>
T* Control(CLocationDlg& page, unsigned id) {
    return qobject_cast<T*>(page.FindControl(static_cast<int>(id)));
}

// A simulated clock `ahead` whole seconds ahead of the PC whenever it is
// asked its time, with the sheet's port open on it.
struct CWatchedClock {
    CSimClock clock;
    explicit CWatchedClock(CClockPropSheet& sheet, int ahead) {
        clock.SetCommandHandler([this, ahead](const std::string& command) {
            if (command == "TU") clock.SetClockTime(std::time(nullptr) + ahead);
        });
        if (!clock.Start()) return;
        RegisterPatientPort("CLOCK", clock.DevicePath());
        sheet.GetPort()->Open("CLOCK");
    }
    int Asks() const {
        int asks = 0;
        for (const std::string& command : clock.GetCommandLog()) asks += command == "TU";
        return asks;
    }
};

// Some ticks of the page's clock pass (ticks - 1 seconds at least).
bool WaitTicks(CLocationDlg& page, int ticks) {
    for (int i = 0; i < ticks; ++i) {
        const std::string before = page.GetGMTText();
        if (!QTest::qWaitFor([&] { return page.GetGMTText() != before; }, 20000)) return false;
    }
    return true;
}

// The watch's "+3.012 s +- 0.011 s" read back.
bool ReadOffset(const QLabel* label, double& offset, double& uncertainty) {
    return std::sscanf(label->text().toLatin1().constData(), "%lf s +- %lf s", &offset, &uncertainty) == 2;
}

}  // namespace

class CLocationPageTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { CQtPromptHooks::Install(); }
    void cleanupTestCase() { CQtPromptHooks::Uninstall(); }
    void ZoneAndOffsetComeFromThePC();
    void OffsetGoesIntoTheSetupInMinutes();
    void ClockReplyBecomesTheTimeToSet();
    void ClockTimeToPCAndBack();
        void WatchShowsTheOffsetWithinItsUncertainty();
    void WatchStartsSilentAndPausesWhileHiddenOrDuringATransfer();
    void WatchToldOfAFailedPollAsksAgain();
};

void CLocationPageTest::ZoneAndOffsetComeFromThePC() {
    const struct {
        const char* tz;
        std::optional<int> hours;
        const char* name;
    } zones[] = {
        {"IST-5:30", 5, "IST"},
        {"NST3:30", -3, "NST"},
        {"PST8PDT,0/0,J365/25", -7, "PDT"},  // daylight time all year
        // Daylight time one hour a year: the daylight name all the same.
        {"AAA3BBB,J365/23,J365/24", std::nullopt, "BBB"},
        {"UTC0", 0, "UTC"},
    };
    for (const auto& zone : zones) {
        CZone inZone(zone.tz);
        if (zone.hours) QCOMPARE(CLocationDlg::GetLocalOffsetHours(), *zone.hours);
        QCOMPARE(CLocationDlg::GetTimeZoneName(), std::string(zone.name));
    }
    std::tm when{};
    const std::time_t t = Utc(1980, 1, 2, 2, 3, 55);
    ::gmtime_r(&t, &when);
    QCOMPARE(CLocationDlg::FormatAscTime(when), std::string("Wed Jan 02 02:03:55 1980\n"));
}

void CLocationPageTest::OffsetGoesIntoTheSetupInMinutes() {
    CGuiProfile profile;
    CZone inZone("IST-5:30");
    CTempDir dir;
    std::ostringstream setup;
    CClockState().Serialize(setup);
    WriteWholeFile(dir.File("setup.hcs"), setup.str());
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CSheetPrompts prompts(sheet);
    CLocationDlg& page = ShowLocation(sheet);
    auto* edit = Control<QLineEdit>(page, IDC_LOCAL_OFFSET);
    auto* apply = Control<QPushButton>(page, IDC_APPLY_OFFSET);
    QCOMPARE(edit->text(), QStringLiteral("5"));
    QVERIFY(!edit->isEnabled() && apply->isEnabled());
    QVERIFY(sheet.LoadFromFile(QString::fromStdString(dir.File("setup.hcs"))));
    QVERIFY(edit->isEnabled());

    const struct {
        const char* text;
        int stored;  // 0: refused
    } cases[] = {
        {"12", 720}, {" -12 ", -720}, {"13", 0}, {"-13", 0}, {"abc", 0}, {"1 2", 0}, {"99999999999", 0}, {"3", 180},
    };
    const auto* record = reinterpret_cast<const unsigned char*>(sheet.GetClockState()->GetConfig());
    int expected = static_cast<std::int16_t>((record[0x0C] << 8) | record[0x0D]);
    for (const auto& c : cases) {
        prompts.beeps = 0;
        edit->setText(QString::fromLatin1(c.text));
        apply->click();
        if (c.stored != 0) expected = c.stored;
        QVERIFY2(static_cast<std::int16_t>((record[0x0C] << 8) | record[0x0D]) == expected, c.text);
        QVERIFY2(prompts.beeps == (c.stored == 0 ? 1 : 0), c.text);
        // A refused offset gives way to the PC's own.
        QVERIFY2(edit->text() == QString::fromLatin1(c.stored == 0 ? "5" : c.text), c.text);
    }
    QVERIFY(prompts.boxes.empty());
}

void CLocationPageTest::ClockReplyBecomesTheTimeToSet() {
    const std::time_t noon = Utc(2024, 3, 10, 12, 0, 0);
    const struct {
        const char* reply;
        std::time_t pcNow;
        std::time_t expected;  // -1: refused
    } cases[] = {
        {"70:13:14:15\r\n", noon, Utc(2024, 3, 10, 13, 14, 16)},
        {"70:13:59:59\r\n", noon, Utc(2024, 3, 10, 14, 0, 0)},
        {"1:23:59:59", Utc(2024, 12, 31, 23, 59, 58), Utc(2025, 1, 1, 0, 0, 0)},
        // Either side of midnight: the clock's time of day keeps its own date.
        {"70:23:59:58\r\n", Utc(2024, 3, 11, 0, 0, 2), Utc(2024, 3, 10, 23, 59, 59)},
        {"71:0:0:3\r\n", Utc(2024, 3, 10, 23, 59, 59), Utc(2024, 3, 11, 0, 0, 4)},
        {"70:13:14", noon, -1},
        {"?", noon, -1},
        {"70:24:00:00\r\n", noon, -1},
        {"70:12:00:60\r\n", noon, -1},
        {"70:12:00:99999999999", noon, -1},
    };
    for (const auto& c : cases) {
        std::time_t got = -1;
        const bool ok = CLocationDlg::TimeFromReply(c.reply, c.pcNow, got);
        QVERIFY2(ok == (c.expected != -1) && (!ok || got == c.expected), c.reply);
    }
}

void CLocationPageTest::ClockTimeToPCAndBack() {
    CGuiProfile profile;
    CZone inZone("UTC0");  // the clock takes the PC's local time
    CSimClock clock;
    // Each time request finds the clock at a chosen time.
    std::atomic<std::time_t> clockTime{0};
    clock.SetCommandHandler([&](const std::string& command) {
        if (command == "TU") clock.SetClockTime(clockTime.load());
    });
    QVERIFY2(clock.Start(), clock.LastError().c_str());
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CSheetPrompts prompts(sheet);
    CLocationDlg& page = ShowLocation(sheet);
    std::vector<std::time_t> set;
    CSystemClock::TResult answer{CSystemClock::SET, {}};
    page.SetClockSetter([&](std::time_t utc) {
        set.push_back(utc);
        return answer;
    });
    auto* toPC = Control<QPushButton>(page, IDC_CLOCK_TO_PC);
    auto* toClock = Control<QPushButton>(page, IDC_PC_TO_CLOCK);

    // Port closed: both off, and asked anyway they only beep.
    QVERIFY(!toPC->isEnabled() && !toClock->isEnabled());
    page.OnClockTimeToPC();
    page.OnPCTimeToClock();
    QCOMPARE(prompts.beeps, 2);
    // The clock's line, with a late echo waited for (EchoPatience.h).
    RegisterPatientPort("CLOCK", clock.DevicePath());
    QVERIFY(sheet.GetPort()->Open("CLOCK"));
    QVERIFY(toPC->isEnabled() && toClock->isEnabled());

    // Second 59 carries into the next minute.
    clockTime = (std::time(nullptr) + 3600) / 60 * 60 + 59;
    toPC->click();
    QVERIFY2(set == std::vector<std::time_t>{clockTime + 1}, sheet.GetStatusText().c_str());
    QCOMPARE(prompts.beeps, 2);
    QCOMPARE(sheet.GetStatusText(), std::string("The PC clock was set from the clock's time."));
    // A refusal beeps and says why.
    answer = CSystemClock::TResult{CSystemClock::AUTOMATIC_SYNC, {}};
    toPC->click();
    QCOMPARE(prompts.beeps, 3);
    QCOMPARE(sheet.GetStatusText(), std::string("The PC clock was not set: automatic time synchronisation is on."));

    // A '?' from the clock is a refusal, no echo is no transfer: each beeps,
    // says so in the status line, and leaves both clocks alone.
    set.clear();
    const std::time_t clockBefore = clock.GetClockTime();
    const struct {
        bool TSimFaults::*fault;
        const char* toClock;
        const char* toPC;
    } faults[] = {
        {&TSimFaults::answerQuestion, "The clock refused the time: it answered '?' to the set-time command.",
         "The clock refused the time request: it answered '?'."},
        {&TSimFaults::noEcho, "The clock did not take the time: it did not echo the set-time command.",
         "The clock did not answer the time request: no echo of the command."},
    };
    for (const auto& f : faults) {
        TSimFaults faults;
        faults.*(f.fault) = true;
        clock.SetFaults(faults);
        const int beeps = prompts.beeps;
        PatientPortPatience() = faults.noEcho ? 0 : kEchoPatienceMs;
        // Each with the clock's reason after it.
        toClock->click();
        QVERIFY2(sheet.GetStatusText().starts_with(std::string(f.toClock) + " "), sheet.GetStatusText().c_str());
        toPC->click();
        QVERIFY2(sheet.GetStatusText().starts_with(std::string(f.toPC) + " "), sheet.GetStatusText().c_str());
        QCOMPARE(prompts.beeps, beeps + 2);
    }
    PatientPortPatience() = kEchoPatienceMs;
    QVERIFY(set.empty());
    QVERIFY(std::labs(static_cast<long>(clock.GetClockTime() - clockBefore)) <= 120);

    // PC -> Clock: the clock takes the PC's time (to the minute).
    clock.SetFaults(TSimFaults{});
    clock.SetClockTime(Utc(2001, 1, 1, 0, 0, 0));
    toClock->click();
    QCOMPARE(prompts.beeps, 7);
    QCOMPARE(sheet.GetStatusText(), std::string("The clock's time was set from the PC."));
    QVERIFY(std::labs(static_cast<long>(clock.GetClockTime() - std::time(nullptr))) <= 120);
    QVERIFY(clock.GetCommandLog().back().ends_with("TS"));
    QVERIFY(prompts.boxes.empty());
}

void CLocationPageTest::WatchShowsTheOffsetWithinItsUncertainty() {
    for (const int ahead : {3, -2}) {
        CGuiProfile profile;
        CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
        CLocationDlg& page = ShowLocation(sheet);
        CWatchedClock sim(sheet, ahead);
        QVERIFY(sheet.GetPort()->IsOpen());
        Control<QCheckBox>(page, IDC_WATCH)->click();
        CClockWatch& watch = *page.GetWatch();
        QTRY_VERIFY_WITH_TIMEOUT(watch.GetPolls() >= 4, 60000);

        const QLabel* shown = Control<QLabel>(page, IDC_WATCH_OFFSET);
        double offset = 0, uncertainty = 0;
        QVERIFY2(ReadOffset(shown, offset, uncertainty), qPrintable(shown->text()));
        QVERIFY2(std::fabs(offset - ahead) <= uncertainty + 0.002 && uncertainty < 0.5, qPrintable(shown->text()));
        // The clock's time as it told it: the PC's UTC plus the offset.
        const QString timeText = Control<QLabel>(page, IDC_WATCH_TIME)->text();
        QDateTime told = QDateTime::fromString(timeText, QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'"));
        told.setTimeSpec(Qt::UTC);
        QVERIFY2(std::llabs(told.toSecsSinceEpoch() - (std::time(nullptr) + ahead)) <= 3, qPrintable(timeText));
        // One point a poll on the plot, the newest where the text says.
        const auto* line = qobject_cast<QLineSeries*>(
            Control<QChartView>(page, IDC_WATCH_PLOT)->chart()->series().last());
        QVERIFY(line);
        QCOMPARE(line->count(), watch.GetPolls());
        QVERIFY(std::fabs(line->points().last().y() - offset) < 0.001);

        if (ahead < 0) {
            const QByteArray folder = qgetenv("TARVEL_SHOTS_DIR");
            // Some more polls for a picture.
            QTRY_VERIFY_WITH_TIMEOUT(folder.isEmpty() || watch.GetPolls() >= 12, 60000);
            if (!folder.isEmpty() && QDir().mkpath(QString::fromLocal8Bit(folder)))
                QVERIFY(sheet.grab().save(QString::fromLocal8Bit(folder) + QStringLiteral("/location-watch.png")));
        }
    }
}

void CLocationPageTest::WatchStartsSilentAndPausesWhileHiddenOrDuringATransfer() {
    CGuiProfile profile;
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CLocationDlg& page = ShowLocation(sheet);
    CWatchedClock sim(sheet, 1);
    QVERIFY(sheet.GetPort()->IsOpen());
    // Unticked, as it starts: nothing is sent.
    QVERIFY(!Control<QCheckBox>(page, IDC_WATCH)->isChecked());
    QVERIFY(WaitTicks(page, 3));
    QCOMPARE(sim.Asks(), 0);
    QVERIFY(Control<QLabel>(page, IDC_WATCH_OFFSET)->text().isEmpty());
    Control<QCheckBox>(page, IDC_WATCH)->click();
    CClockWatch& watch = *page.GetWatch();
    QTRY_VERIFY_WITH_TIMEOUT(watch.GetPolls() >= 1, 30000);

    // The Console page in front: nothing is due and nothing is sent.
    sheet.GetTabs()->setCurrentWidget(&sheet.GetConsolePage());
    QVERIFY(!watch.IsAsking());
    int asks = sim.Asks();
    QVERIFY(WaitTicks(page, 4));
    QCOMPARE(sim.Asks(), asks);
    // Back in front, it goes on.
    sheet.GetTabs()->setCurrentWidget(&page);
    QTRY_VERIFY_WITH_TIMEOUT(sim.Asks() > asks, 30000);

    // A transfer holds the line for seconds: the watch waits for its end.
    int during = -1;
    QVERIFY(sheet.RunClockCommand(0, [&] {
        asks = sim.Asks();
        if (WaitTicks(page, 4)) during = sim.Asks() - asks;
    }));
    QCOMPARE(during, 0);
    QTRY_VERIFY_WITH_TIMEOUT(sim.Asks() > asks, 30000);
}

void CLocationPageTest::WatchToldOfAFailedPollAsksAgain() {
    CGuiProfile profile;
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CLocationDlg& page = ShowLocation(sheet);
    CWatchedClock sim(sheet, 0);
    QVERIFY(sheet.GetPort()->IsOpen());
    TSimFaults silent;
    silent.noEcho = true;
    sim.clock.SetFaults(silent);
    PatientPortPatience() = 0;
    Control<QCheckBox>(page, IDC_WATCH)->click();
    // The reason after it, as the page's transfers give theirs.
    const std::string told = "The watch got no time from the clock (asked again in 5 s): No echo of byte 1";
    QTRY_VERIFY2_WITH_TIMEOUT(sheet.GetStatusText().starts_with(told), sheet.GetStatusText().c_str(), 30000);
    QCOMPARE(page.GetWatch()->GetPolls(), 0);
    // The clock answers again: the next ask gives a time.
    sim.clock.SetFaults(TSimFaults{});
    PatientPortPatience() = kEchoPatienceMs;
    QTRY_VERIFY_WITH_TIMEOUT(page.GetWatch()->GetPolls() >= 1, 30000);
}

QTEST_MAIN(CLocationPageTest)
#include "LocationPageTest.moc"
