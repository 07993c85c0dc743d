#include "LocationDlg.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <QApplication>

#include "ClockState.h"
#include "ClockWatch.h"
#include "CommPort.h"
#include "Waits.h"
#include "ControlIds.h"
#include "Resource.h"
#include "StringTable.h"

namespace {

// The setup item that holds the clock's local offset, in minutes.
constexpr int kLocalOffsetItem = 13;
constexpr long kDaySeconds = 24L * 60 * 60;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Reads an optionally signed decimal number at p, as "%d" would, refusing
// what does not fit an int. p is left after the number.
bool ReadNumber(const char*& p, int& value) {
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    const char* start = p;
    if (*p == '+' || *p == '-') ++p;
    if (*p < '0' || *p > '9') return false;
    errno = 0;
    char* end = nullptr;
    const long number = std::strtol(start, &end, 10);
    if (errno == ERANGE || number < INT_MIN || number > INT_MAX) return false;
    value = static_cast<int>(number);
    p = end;
    return true;
}

QString FromStd(const std::string& text) { return QString::fromStdString(text); }

// Labels show the text without the asctime form's closing line feed.
QString WithoutLineFeed(const std::string& text) {
    return FromStd(!text.empty() && text.back() == '\n' ? text.substr(0, text.size() - 1) : text);
}

}  // namespace

CLocationDlg::CLocationDlg(QWidget* parent)
    : CCommPage(IDD_LOCATION, parent),
      m_strLocalOffset(std::to_string(GetLocalOffsetHours())),
      m_strTimeZone(GetTimeZoneName()),
      m_setClock(&CSystemClock::SetUtc) {}

CLocationDlg::~CLocationDlg() {
    // The watch asks the page for its port whenever it hides or changes: it
    // goes while the page is still whole, not among the base's children.
    delete m_watch;
    m_watch = nullptr;
}

int CLocationDlg::GetLocalOffsetHours() {
    ::tzset();
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!::localtime_r(&now, &local)) return 0;
    // Integer division truncates toward zero, as wanted.
    return static_cast<int>(local.tm_gmtoff / 3600);
}

std::string CLocationDlg::GetTimeZoneName() {
    ::tzset();
    const char* name = ::daylight ? ::tzname[1] : ::tzname[0];
    return name ? std::string(name) : std::string();
}

std::string CLocationDlg::FormatAscTime(const std::tm& time) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const char* day = time.tm_wday >= 0 && time.tm_wday < 7 ? kDays[time.tm_wday] : "???";
    const char* month = time.tm_mon >= 0 && time.tm_mon < 12 ? kMonths[time.tm_mon] : "???";
    char text[64];
    std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %d\n", day, month, time.tm_mday, time.tm_hour,
                  time.tm_min, time.tm_sec, time.tm_year + 1900);
    return text;
}

bool CLocationDlg::ParseSignedInt(const std::string& text, int& value) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && text[i] == '-') {
        negative = true;
        ++i;
    }
    const std::size_t digits = i;
    long long number = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        number = number * 10 + (text[i] - '0');
        if (number > static_cast<long long>(INT_MAX) + 1) return false;
    }
    if (i == digits) return false;
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i != text.size()) return false;
    if (negative) number = -number;
    if (number < INT_MIN || number > INT_MAX) return false;
    value = static_cast<int>(number);
    return true;
}

bool CLocationDlg::TimeFromReply(const char* reply, std::time_t pcNowUtc, std::time_t& result) {
    if (!reply) return false;
    int numbers[4] = {};
    const char* p = reply;
    for (int i = 0; i < 4; ++i) {
        if (i > 0 && *p++ != ':') return false;
        if (!ReadNumber(p, numbers[i])) return false;
    }
    // The first number (the clock's day of the year) is not used.
    const int hour = numbers[1], minute = numbers[2], second = numbers[3];
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) return false;

    std::tm utc{};
    if (!::gmtime_r(&pcNowUtc, &utc)) return false;
    utc.tm_hour = hour;
    utc.tm_min = minute;
    utc.tm_sec = second;
    const std::time_t clockTime = ::timegm(&utc);
    if (clockTime == static_cast<std::time_t>(-1)) return false;
    // One second for the reply's way, carried into minutes, hours and the
    // date (a second of 60 is no time at all).
    std::time_t t = clockTime + 1;
    // The PC and the clock may sit on either side of midnight: the clock's
    // time of day belongs to the date that puts it nearest the PC's time.
    if (t - pcNowUtc > kDaySeconds / 2)
        t -= kDaySeconds;
    else if (pcNowUtc - t > kDaySeconds / 2)
        t += kDaySeconds;
    result = t;
    return true;
}

bool CLocationDlg::OnInitDialog() {
    CCommPage::OnInitDialog();

    m_staticLocalTime = TagControl(new QLabel(this), static_cast<int>(IDC_LOCAL_TIME));
    m_staticGMT = TagControl(new QLabel(this), static_cast<int>(IDC_GMT));
    m_staticTimeZone = TagControl(new QLabel(FromStd(m_strTimeZone), this), static_cast<int>(IDC_TIME_ZONE));
    m_editOffset = TagControl(new QLineEdit(FromStd(m_strLocalOffset), this), static_cast<int>(IDC_LOCAL_OFFSET));
    m_editOffset->setMaximumWidth(m_editOffset->fontMetrics().horizontalAdvance(QStringLiteral("-0000")) + 12);
    m_editOffset->setEnabled(false);
    m_btnApply = TagControl(new QPushButton(QStringLiteral("Apply"), this), static_cast<int>(IDC_APPLY_OFFSET));
    m_btnClockToPC =
        TagControl(new QPushButton(QStringLiteral("Clock Time -> PC"), this), static_cast<int>(IDC_CLOCK_TO_PC));
    m_btnPCToClock =
        TagControl(new QPushButton(QStringLiteral("PC Time -> Clock"), this), static_cast<int>(IDC_PC_TO_CLOCK));
    m_btnClockToPC->setEnabled(false);
    m_btnPCToClock->setEnabled(false);
    // Buttons of a page never act on Enter typed elsewhere in the window.
    for (QPushButton* button : {m_btnApply, m_btnClockToPC, m_btnPCToClock}) button->setAutoDefault(false);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Local Time"), this), 0, 0);
    grid->addWidget(m_staticLocalTime, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Greenwich Mean Time"), this), 1, 0);
    grid->addWidget(m_staticGMT, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("System Time Zone"), this), 2, 0);
    grid->addWidget(m_staticTimeZone, 2, 1);
    auto* offsetLabel = new QLabel(QStringLiteral("Local Offset"), this);
    offsetLabel->setBuddy(m_editOffset);  // the field's name for a screen reader
    grid->addWidget(offsetLabel, 3, 0);
    auto* offsetRow = new QHBoxLayout;
    offsetRow->addWidget(m_editOffset);
    offsetRow->addWidget(m_btnApply);
    offsetRow->addStretch(1);
    grid->addLayout(offsetRow, 3, 1);
    grid->setColumnStretch(1, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_btnClockToPC);
    buttons->addWidget(m_btnPCToClock);
    buttons->addStretch(1);

    m_watch = new CClockWatch(*this, this);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addSpacing(12);
    layout->addLayout(buttons);
    layout->addSpacing(12);
    layout->addWidget(m_watch, 1);
    // The page's least size is the template's; the plot needs more height,
    // known once the controls made here are shown (queued by the layout).
    QMetaObject::invokeMethod(
        this, [this] { setMinimumHeight(std::max(minimumHeight(), minimumSizeHint().height())); },
        Qt::QueuedConnection);

    QObject::connect(m_btnApply, &QPushButton::clicked, this, [this] { OnApplyOffset(); });
    QObject::connect(m_btnClockToPC, &QPushButton::clicked, this, [this] { OnClockTimeToPC(); });
    QObject::connect(m_btnPCToClock, &QPushButton::clicked, this, [this] { OnPCTimeToClock(); });

    // The times first appear a second after the page is first shown, and
    // keep going for as long as the page exists, shown or not.
    QObject::connect(&m_nTimer, &QTimer::timeout, this, [this] { OnTimer(); });
    m_nTimer.start(1000);

    OnClockStateChanged();
    OnPortStateChanged();
    return true;
}

void CLocationDlg::OnTimer() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (::localtime_r(&now, &local)) m_strLocalTime = FormatAscTime(local);
    if (m_staticLocalTime) m_staticLocalTime->setText(WithoutLineFeed(m_strLocalTime));
    now = std::time(nullptr);
    std::tm gmt{};
    if (::gmtime_r(&now, &gmt)) m_strGMT = FormatAscTime(gmt);
    if (m_staticGMT) m_staticGMT->setText(WithoutLineFeed(m_strGMT));
}

void CLocationDlg::OnClockStateChanged() {
    const CClockState* state = GetClockState();
    if (m_editOffset) m_editOffset->setEnabled(state && state->IsValid());
}

void CLocationDlg::OnPortStateChanged() {
    const CCommPort* port = GetPort();
    const bool open = port && port->IsOpen();
    if (m_btnClockToPC) m_btnClockToPC->setEnabled(open);
    if (m_btnPCToClock) m_btnPCToClock->setEnabled(open);
    if (m_watch) m_watch->Update();
}

void CLocationDlg::OnApplyOffset() {
    if (m_editOffset) m_strLocalOffset = m_editOffset->text().toStdString();
    int hours = 0;
    CClockState* state = GetClockState();
    // Hours far beyond any offset would overflow as minutes; the range check
    // refuses them anyway.
    if (state && ParseSignedInt(m_strLocalOffset, hours) && hours >= INT_MIN / 60 && hours <= INT_MAX / 60 &&
        state->SetItem(kLocalOffsetItem, hours * 60, false))
        return;
    Beep();
    m_strLocalOffset = std::to_string(GetLocalOffsetHours());
    if (m_editOffset) m_editOffset->setText(FromStd(m_strLocalOffset));
}

void CLocationDlg::ShowResult(unsigned id) {
    if (IPageHost* sheet = GetSheet()) sheet->ShowStatus(id);
}

void CLocationDlg::ShowResult(unsigned id, const TClockResult& why) {
    const std::string reason = why.Sentence();
    if (reason.empty()) return ShowResult(id);
    if (IPageHost* sheet = GetSheet()) sheet->ShowStatusText(GetString(id) + " " + reason);
}

bool CLocationDlg::RunWithSheet(unsigned busyText, const std::function<void()>& work) {
    IPageHost* sheet = GetSheet();
    if (!sheet) {
        work();
        return true;
    }
    // No second transfer while one runs; the window stays painted meanwhile.
    return sheet->RunClockCommand(busyText, work);
}

void CLocationDlg::Beep() {
    if (m_beeper)
        m_beeper();
    else
        QApplication::beep();
}

void CLocationDlg::OnClockTimeToPC() {
    CCommPort* port = GetPort();
    CClockState* state = GetClockState();
    if (!port || !state || !port->IsOpen()) {
        Beep();
        return;
    }
    RunWithSheet(IDS_ASKING_CLOCK_TIME, [this, port, state] { ClockTimeToPC(*port, *state); });
}

void CLocationDlg::ClockTimeToPC(CCommPort& port, CClockState& state) {
    std::string reply;
    const TClockResult asked = state.AskTime(port, reply);
    if (!asked) {
        Beep();
        unsigned id = IDS_CLOCK_NO_TIME_ECHO;
        if (asked.failure == TClockFailure::Refused || asked.got == '?') id = IDS_CLOCK_REFUSED_TIME_REQUEST;
        if (asked.failure == TClockFailure::NoReply) id = IDS_CLOCK_TIME_UNREADABLE;
        ShowResult(id, asked);
        return;
    }

    std::time_t utc = 0;
    if (!TimeFromReply(reply.c_str(), std::time(nullptr), utc)) {
        Beep();
        ShowResult(IDS_CLOCK_TIME_UNREADABLE);
        return;
    }
    const CSystemClock::TResult result = m_setClock ? m_setClock(utc) : CSystemClock::TResult{};
    if (!result.IsSet()) {
        Beep();
        if (IPageHost* sheet = GetSheet()) sheet->ShowStatusText(CSystemClock::DescribeFailure(result));
        return;
    }
    ShowResult(IDS_PC_TIME_SET);
    if (m_watch) m_watch->ClockWasSet();
    OnTimer();
}

void CLocationDlg::OnPCTimeToClock() {
    CCommPort* port = GetPort();
    CClockState* state = GetClockState();
    if (!port || !state || !port->IsOpen()) {
        Beep();
        return;
    }
    RunWithSheet(IDS_SETTING_CLOCK_TIME, [this, port, state] { PCTimeToClock(*port, *state); });
}

void CLocationDlg::PCTimeToClock(CCommPort& port, CClockState& state) {
    const TClockResult set = state.SetTime(port);
    if (!set) {
        Beep();
        const bool refused = set.failure == TClockFailure::Refused || set.got == '?';
        ShowResult(refused ? IDS_CLOCK_REFUSED_TIME : IDS_CLOCK_DID_NOT_TAKE_TIME, set);
        return;
    }
    ShowResult(IDS_CLOCK_TIME_SET);
    if (m_watch) m_watch->ClockWasSet();
}
