// The Location page on a host of the test's own: zone and offset from the
// PC, the local offset into the setup, the two time transfers and the watch
// with a simulated clock. The PC clock is never touched: the page's clock
// setter is replaced.
#include <stdlib.h>

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "ClockWatch.h"
#include "ControlIds.h"
#include "EchoPatience.h"
#include "FakePageHost.h"
#include "GuiTestSupport.h"
#include "LocationDlg.h"
#include "Profile.h"
#include "Resource.h"
#include "SimClock.h"
#include "StringTable.h"

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

// The page shown on the test's host, its beeps counted.
struct TLocation {
    CGuiProfile profile;
    CFakePageHost host;
    CLocationDlg page;
    int beeps = 0;

    TLocation() {
        // The clock's echo has time to come back on a loaded machine.
        WriteProfileInt("Communication", "CharDelay", 50);
        page.SetSheet(&host);
        page.SetBeeper([this] { ++beeps; });
        page.show();
    }
    // Opens the port and tells the page, as the window does.
    bool Open(const std::string& name) {
        const bool opened = host.port.Open(name);
        page.PortStateChanged();
        return opened;
    }
    template <typename T>
    T* Control(unsigned id) {
        return qobject_cast<T*>(page.FindControl(static_cast<int>(id)));
    }
};

// A simulated clock `ahead` whole seconds ahead of the PC whenever it is
// asked its time, with the page's port open on it.
struct CWatchedClock {
    CSimClock clock;
    // A clock ahead of the PC by exactly ahead seconds, as a real one keeps
    // its offset between asks (not a whole second truncated at each ask).
    CWatchedClock(TLocation& location, int ahead) {
        clock.SetTimeOffset(ahead);
        if (!clock.Start()) return;
        RegisterPatientPort("CLOCK", clock.DevicePath());
        location.Open("CLOCK");
    }
    int Asks() const {
        int asks = 0;
        for (const std::string& command : clock.GetCommandLog()) asks += command == "TU";
        return asks;
    }
};

// The plot's lines, oldest first: one a run of points.
std::vector<QLineSeries*> PlotLines(TLocation& t) {
    std::vector<QLineSeries*> lines;
    for (QAbstractSeries* series : t.Control<QChartView>(IDC_WATCH_PLOT)->chart()->series())
        if (auto* line = qobject_cast<QLineSeries*>(series)) lines.push_back(line);
    return lines;
}

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
    void ZoneAndOffsetComeFromThePC();
    void OffsetGoesIntoTheSetupInMinutes();
    void ClockReplyBecomesTheTimeToSet();
    void ClockTimeToPCAndBack();
    void WatchShowsTheOffsetWithinItsUncertainty();
    void WatchStartsSilentAndPausesWhileHiddenOrDuringATransfer();
    void WatchToldOfAFailedPollAsksAgain();
    void WatchStopsAndSaysSoWhenThePortCloses();
    void PlotBreaksWhenAnotherClockIsOpened();
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
    CZone inZone("IST-5:30");
    TLocation t;
    auto* edit = t.Control<QLineEdit>(IDC_LOCAL_OFFSET);
    auto* apply = t.Control<QPushButton>(IDC_APPLY_OFFSET);
    QCOMPARE(edit->text(), QStringLiteral("5"));
    QVERIFY(!edit->isEnabled() && apply->isEnabled());
    QVERIFY(t.host.LoadSetup());
    t.page.ClockStateChanged();
    QVERIFY(edit->isEnabled());

    const struct {
        const char* text;
        int stored;  // 0: refused
    } cases[] = {
        {"12", 720}, {" -12 ", -720}, {"13", 0}, {"-13", 0}, {"abc", 0}, {"1 2", 0}, {"99999999999", 0}, {"3", 180},
    };
    const auto* record = reinterpret_cast<const unsigned char*>(t.host.state.GetConfig());
    int expected = static_cast<std::int16_t>((record[0x0C] << 8) | record[0x0D]);
    for (const auto& c : cases) {
        t.beeps = 0;
        edit->setText(QString::fromLatin1(c.text));
        apply->click();
        if (c.stored != 0) expected = c.stored;
        QVERIFY2(static_cast<std::int16_t>((record[0x0C] << 8) | record[0x0D]) == expected, c.text);
        QVERIFY2(t.beeps == (c.stored == 0 ? 1 : 0), c.text);
        // A refused offset gives way to the PC's own.
        QVERIFY2(edit->text() == QString::fromLatin1(c.stored == 0 ? "5" : c.text), c.text);
    }
    QVERIFY(t.host.boxes.empty());
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
    CZone inZone("UTC0");  // the clock takes the PC's local time
    CSimClock clock;
    // Each time request finds the clock at a chosen time.
    std::atomic<std::time_t> clockTime{0};
    clock.SetCommandHandler([&](const std::string& command) {
        if (command == "TU") clock.SetClockTime(clockTime.load());
    });
    QVERIFY2(clock.Start(), clock.LastError().c_str());
    TLocation t;
    std::vector<std::time_t> set;
    CSystemClock::TResult answer{CSystemClock::SET, {}};
    t.page.SetClockSetter([&](std::time_t utc) {
        set.push_back(utc);
        return answer;
    });
    auto* toPC = t.Control<QPushButton>(IDC_CLOCK_TO_PC);
    auto* toClock = t.Control<QPushButton>(IDC_PC_TO_CLOCK);
    auto status = [&] { return t.host.StatusText(); };

    // Port closed: both off (asked anyway they only beep: PagesTest).
    QVERIFY(!toPC->isEnabled() && !toClock->isEnabled());
    // The clock's line, with a late echo waited for (EchoPatience.h).
    RegisterPatientPort("CLOCK", clock.DevicePath());
    QVERIFY(t.Open("CLOCK"));
    QVERIFY(toPC->isEnabled() && toClock->isEnabled());

    // Second 59 carries into the next minute.
    clockTime = (std::time(nullptr) + 3600) / 60 * 60 + 59;
    toPC->click();
    QVERIFY2(set == std::vector<std::time_t>{clockTime + 1}, status().c_str());
    QCOMPARE(t.beeps, 0);
    QCOMPARE(status(), std::string("The PC clock was set from the clock's time."));
    // A refusal beeps and says why.
    answer = CSystemClock::TResult{CSystemClock::AUTOMATIC_SYNC, {}};
    toPC->click();
    QCOMPARE(t.beeps, 1);
    QCOMPARE(status(), std::string("The PC clock was not set: automatic time synchronisation is on."));

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
        const int beeps = t.beeps;
        PatientPortPatience() = faults.noEcho ? 0 : kEchoPatienceMs;
        // Each with the clock's reason after it.
        toClock->click();
        QVERIFY2(status().starts_with(std::string(f.toClock) + " "), status().c_str());
        toPC->click();
        QVERIFY2(status().starts_with(std::string(f.toPC) + " "), status().c_str());
        QCOMPARE(t.beeps, beeps + 2);
    }
    PatientPortPatience() = kEchoPatienceMs;
    QVERIFY(set.empty());
    QVERIFY(std::labs(static_cast<long>(clock.GetClockTime() - clockBefore)) <= 120);

    // PC -> Clock: the clock takes the PC's time (to the minute).
    clock.SetFaults(TSimFaults{});
    clock.SetClockTime(Utc(2001, 1, 1, 0, 0, 0));
    toClock->click();
    QCOMPARE(t.beeps, 5);
    QCOMPARE(status(), std::string("The clock's time was set from the PC."));
    QVERIFY(std::labs(static_cast<long>(clock.GetClockTime() - std::time(nullptr))) <= 120);
    QVERIFY(clock.GetCommandLog().back().ends_with("TS"));
    QVERIFY(t.host.boxes.empty());
}

void CLocationPageTest::WatchShowsTheOffsetWithinItsUncertainty() {
    for (const int ahead : {3, -2}) {
        TLocation t;
        CWatchedClock sim(t, ahead);
        QVERIFY(t.host.port.IsOpen());
        t.Control<QCheckBox>(IDC_WATCH)->click();
        CClockWatch& watch = *t.page.GetWatch();
        QTRY_VERIFY_WITH_TIMEOUT(watch.GetPolls() >= 4, 60000);

        const QLabel* shown = t.Control<QLabel>(IDC_WATCH_OFFSET);
        double offset = 0, uncertainty = 0;
        QVERIFY2(ReadOffset(shown, offset, uncertainty), qPrintable(shown->text()));
        QVERIFY2(std::fabs(offset - ahead) <= uncertainty + 0.002 && uncertainty < 0.5, qPrintable(shown->text()));
        // The clock's time as it told it: the PC's UTC plus the offset.
        const QString timeText = t.Control<QLabel>(IDC_WATCH_TIME)->text();
        QDateTime told = QDateTime::fromString(timeText, QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'"));
        told.setTimeSpec(Qt::UTC);
        QVERIFY2(std::llabs(told.toSecsSinceEpoch() - (std::time(nullptr) + ahead)) <= 3, qPrintable(timeText));
        // One point a poll on the plot, the newest where the text says.
        const auto* line =
            qobject_cast<QLineSeries*>(t.Control<QChartView>(IDC_WATCH_PLOT)->chart()->series().last());
        QVERIFY(line);
        QCOMPARE(line->count(), watch.GetPolls());
        QVERIFY(std::fabs(line->points().last().y() - offset) < 0.001);
    }
}

void CLocationPageTest::WatchStartsSilentAndPausesWhileHiddenOrDuringATransfer() {
    TLocation t;
    CWatchedClock sim(t, 1);
    QVERIFY(t.host.port.IsOpen());
    // Unticked, as it starts: nothing is sent.
    QVERIFY(!t.Control<QCheckBox>(IDC_WATCH)->isChecked());
    QVERIFY(WaitTicks(t.page, 3));
    QCOMPARE(sim.Asks(), 0);
    QVERIFY(t.Control<QLabel>(IDC_WATCH_OFFSET)->text().isEmpty());
    t.Control<QCheckBox>(IDC_WATCH)->click();
    CClockWatch& watch = *t.page.GetWatch();
    QTRY_VERIFY_WITH_TIMEOUT(watch.GetPolls() >= 1, 30000);

    // Hidden (another tab in front): nothing is due and nothing is sent.
    t.page.hide();
    QVERIFY(!watch.IsAsking());
    int asks = sim.Asks();
    QVERIFY(WaitTicks(t.page, 4));
    QCOMPARE(sim.Asks(), asks);
    // Shown again, it goes on.
    t.page.show();
    QTRY_VERIFY_WITH_TIMEOUT(sim.Asks() > asks, 30000);

    // A transfer holds the line for seconds: the watch waits for its end.
    int during = -1;
    QVERIFY(t.host.RunClockCommand(0, [&] {
        asks = sim.Asks();
        if (WaitTicks(t.page, 4)) during = sim.Asks() - asks;
    }));
    QCOMPARE(during, 0);
    QTRY_VERIFY_WITH_TIMEOUT(sim.Asks() > asks, 30000);
}

void CLocationPageTest::WatchToldOfAFailedPollAsksAgain() {
    TLocation t;
    CWatchedClock sim(t, 0);
    QVERIFY(t.host.port.IsOpen());
    TSimFaults silent;
    silent.noEcho = true;
    sim.clock.SetFaults(silent);
    PatientPortPatience() = 0;
    t.Control<QCheckBox>(IDC_WATCH)->click();
    // The reason after it, as the page's transfers give theirs.
    const std::string told = "The watch got no time from the clock (asked again in 5 s): No echo of byte 1";
    QTRY_VERIFY2_WITH_TIMEOUT(t.host.StatusText().starts_with(told), t.host.StatusText().c_str(), 30000);
    QCOMPARE(t.page.GetWatch()->GetPolls(), 0);
    // The clock answers again: the next ask gives a time.
    sim.clock.SetFaults(TSimFaults{});
    PatientPortPatience() = kEchoPatienceMs;
    QTRY_VERIFY_WITH_TIMEOUT(t.page.GetWatch()->GetPolls() >= 1, 30000);
}

void CLocationPageTest::WatchStopsAndSaysSoWhenThePortCloses() {
    TLocation t;
    CWatchedClock sim(t, 2);
    t.Control<QCheckBox>(IDC_WATCH)->click();
    CClockWatch& watch = *t.page.GetWatch();
    QTRY_VERIFY_WITH_TIMEOUT(watch.GetPolls() >= 1, 30000);
    const auto* offset = t.Control<QLabel>(IDC_WATCH_OFFSET);
    const auto* note = t.Control<QLabel>(IDC_WATCH_NOTE);
    QVERIFY(offset->isEnabled() && !offset->text().contains(QStringLiteral("(as of ")));
    QVERIFY(note->text().isEmpty());

    // Unplugged: the next ask finds the device gone, and the window closes the port.
    sim.clock.Stop();
    QTRY_VERIFY_WITH_TIMEOUT(!watch.IsAsking(), 30000);
    t.host.port.Close();
    t.page.PortStateChanged();
    QCOMPARE(note->text().toStdString(), GetString(IDS_WATCH_STOPPED));
    // No ask is promised, and what is still shown says it is old.
    for (const std::string& status : t.host.statuses)
        QVERIFY2(status.find("asked again") == std::string::npos, status.c_str());
    QVERIFY2(offset->text().contains(QRegularExpression(QStringLiteral(" \\(as of \\d\\d:\\d\\d:\\d\\d\\)$"))),
             qPrintable(offset->text()));
    QVERIFY(!offset->isEnabled());
    QVERIFY(!watch.IsAsking());
}

void CLocationPageTest::PlotBreaksWhenAnotherClockIsOpened() {
    TLocation t;
    CWatchedClock first(t, 3);
    t.Control<QCheckBox>(IDC_WATCH)->click();
    CClockWatch& watch = *t.page.GetWatch();
    QTRY_VERIFY_WITH_TIMEOUT(watch.GetPolls() >= 2, 30000);
    const int before = watch.GetPolls();
    QCOMPARE(PlotLines(t).size(), std::size_t{1});

    // Another clock on the port: its points make a line of their own.
    CWatchedClock second(t, -2);
    QTRY_VERIFY_WITH_TIMEOUT(watch.GetPolls() >= before + 2, 30000);
    const std::vector<QLineSeries*> lines = PlotLines(t);
    QCOMPARE(lines.size(), std::size_t{2});
    QCOMPARE(lines.front()->count(), before);
    QCOMPARE(lines.back()->count(), watch.GetPolls() - before);
    // Each line keeps to its own clock (3 s ahead, 2 s behind): none joins the two.
    for (const QPointF& point : lines.front()->points()) QVERIFY(point.y() > 0.5);
    for (const QPointF& point : lines.back()->points()) QVERIFY(point.y() < 0.5);
}

QTEST_MAIN(CLocationPageTest)
#include "LocationPageTest.moc"
