#include "ClockWatch.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QGridLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLineSeries>
#include <QShowEvent>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "ClockOffset.h"
#include "CommPage.h"
#include "CommPort.h"
#include "ControlIds.h"
#include "Resource.h"
#include "StringTable.h"

namespace {

QString Text(unsigned id) { return QString::fromStdString(GetString(id)); }

// A timer's start a little past its aim finds the poller's own wait short.
constexpr double kLateSlack = 0.02;

// Every run of points in the same colours: a line and its uncertainty band.
const QColor kLineColour(32, 120, 180);
const QColor kBandColour(32, 120, 180, 60);

// The PC's local time of day at host seconds, as the plot's axis shows it.
std::string LocalTimeOfDay(double host) {
    const std::time_t when = static_cast<std::time_t>(host);
    std::tm local{};
    char text[16] = {};
    if (!::localtime_r(&when, &local) || !std::strftime(text, sizeof text, "%H:%M:%S", &local)) return "?";
    return text;
}

}  // namespace

CClockWatch::CClockWatch(CCommPage& page, QWidget* parent) : QWidget(parent), m_page(page) {
    m_check = CCommPage::TagControl(new QCheckBox(Text(IDS_WATCH), this), static_cast<int>(IDC_WATCH));
    m_time = CCommPage::TagControl(new QLabel(this), static_cast<int>(IDC_WATCH_TIME));
    m_offset = CCommPage::TagControl(new QLabel(this), static_cast<int>(IDC_WATCH_OFFSET));
    // A value's name for a screen reader is its label's.
    m_time->setAccessibleName(Text(IDS_WATCH_CLOCK_TIME));
    m_offset->setAccessibleName(Text(IDS_WATCH_OFFSET));
    for (QLabel* value : {m_time, m_offset}) value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_note = CCommPage::TagControl(new QLabel(this), static_cast<int>(IDC_WATCH_NOTE));
    m_note->setWordWrap(true);
    m_note->hide();

    m_chart = new QChart;
    m_chart->legend()->hide();
    m_chart->setMargins(QMargins(4, 4, 4, 4));
    m_axisTime = new QDateTimeAxis;
    m_axisTime->setFormat(QStringLiteral("HH:mm:ss"));
    m_axisTime->setTitleText(Text(IDS_WATCH_AXIS_TIME));
    m_axisOffset = new QValueAxis;
    // The unit on each label: a title would take the little width there is.
    m_axisOffset->setLabelFormat(Text(IDS_WATCH_AXIS_OFFSET));
    m_axisOffset->setRange(-0.5, 0.5);
    m_chart->addAxis(m_axisTime, Qt::AlignBottom);
    m_chart->addAxis(m_axisOffset, Qt::AlignLeft);
    m_runs.push_back(AddRunSeries());
    m_view = CCommPage::TagControl(new QChartView(m_chart, this), static_cast<int>(IDC_WATCH_PLOT));
    m_view->setRenderHint(QPainter::Antialiasing);
    m_view->setAccessibleName(Text(IDS_NAME_WATCH_PLOT));
    m_view->setMinimumHeight(160);
    Plot();

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(Text(IDS_WATCH_CLOCK_TIME), this), 0, 0);
    grid->addWidget(m_time, 0, 1);
    grid->addWidget(new QLabel(Text(IDS_WATCH_OFFSET), this), 1, 0);
    grid->addWidget(m_offset, 1, 1);
    grid->setColumnStretch(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_check);
    layout->addWidget(m_note);
    layout->addLayout(grid);
    layout->addWidget(m_view, 1);

    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, this, [this] { OnDue(); });
    QObject::connect(m_check, &QCheckBox::toggled, this, [this](bool on) {
        if (on) {
            m_polls = 0;
            ++m_run;
        }
        Update();
    });
}

CClockWatch::~CClockWatch() = default;

bool CClockWatch::PortUsable() const {
    // A device found gone is closed by the window next: nothing more to ask it.
    const CCommPort* port = m_page.GetPort();
    return port && port->IsOpen() && !port->IsDeviceGone();
}

bool CClockWatch::ShouldRun() const {
    return m_check->isChecked() && isVisible() && PortUsable() && m_page.GetClockState();
}

void CClockWatch::Update() {
    const CCommPort* port = m_page.GetPort();
    const unsigned opened = port && port->IsOpen() ? port->OpenSerial() : 0;
    if (opened != m_portOpened) {
        // Closed, or opened on what may be another clock: nothing learnt
        // carries over, and the line is not joined across.
        m_poller.Clear();
        m_retrySeconds = 0;
        ++m_run;
        m_portOpened = opened;
    }
    if (!ShouldRun()) {
        m_timer.stop();
        Paused(m_check->isChecked() && !PortUsable());
        return;
    }
    m_note->clear();
    m_note->hide();
    if (!m_timer.isActive() && !m_polling) ScheduleAt(m_poller.NextStart(HostSeconds()));
}

void CClockWatch::ClockWasSet() {
    m_poller.Clear();
    ++m_run;
    // What was shown belongs to the clocks as they were.
    m_fresh = false;
    ShowValues();
}

void CClockWatch::Paused(bool portClosed) {
    m_fresh = false;
    ShowValues();
    m_note->setText(portClosed ? Text(IDS_WATCH_STOPPED) : QString());
    m_note->setVisible(portClosed);
}

void CClockWatch::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Update();
}

void CClockWatch::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // A minimised window's page still counts as shown.
    if (!event->spontaneous()) Update();
}

void CClockWatch::ScheduleAt(double host) {
    m_due = host;
    const double wait = std::max(0.0, std::ceil((host - HostSeconds()) * 1000.0));
    m_timer.start(static_cast<int>(std::min(wait, 3600e3)));
}

void CClockWatch::OnDue() {
    if (m_polling || !ShouldRun()) return;
    IPageHost* sheet = m_page.GetSheet();
    // A transfer has the line: looked at again soon, the estimate kept.
    if (sheet && sheet->IsBusy()) {
        ScheduleAt(HostSeconds() + kBusyGap);
        return;
    }
    CCommPort* port = m_page.GetPort();
    CClockState* state = m_page.GetClockState();
    const unsigned opened = m_portOpened;
    TClockResult result;
    bool asked = false;
    auto poll = [&] {
        std::string reply;
        result = m_poller.Poll(*state, *port, reply, m_due + kLateSlack);
        asked = true;
    };
    m_polling = true;
    const bool ran = sheet ? sheet->RunClockCommand(0, poll) : (poll(), true);
    m_polling = false;
    // The device gone (the window closes the port next) or the port changed:
    // no retry is promised, the watch stops and says why.
    if (!PortUsable() || port->OpenSerial() != opened) {
        Update();
        return;
    }
    // The page may have gone out of sight meanwhile.
    const double next = ran && asked ? Learnt(result, HostSeconds()) : HostSeconds() + kBusyGap;
    if (ShouldRun()) ScheduleAt(next);
}

double CClockWatch::Learnt(const TClockResult& result, double now) {
    if (!result) {
        // A clock that does not answer is asked less and less often, so the
        // window is not held up by waits for it.
        m_retrySeconds = m_retrySeconds == 0 ? kFirstRetrySeconds : std::min(2 * m_retrySeconds, kLastRetrySeconds);
        m_fresh = false;
        ShowValues();
        if (IPageHost* sheet = m_page.GetSheet())
            sheet->ShowStatusText(FormatString(GetString(IDS_WATCH_POLL_FAILED).c_str(), m_retrySeconds) + " " +
                                  result.Sentence());
        return now + m_retrySeconds;
    }
    m_retrySeconds = 0;
    ++m_polls;
    ShowEstimate(now);
    const double gap = Estimate().Uncertainty() > kSettled ? kSettlingGap : kSettledGap;
    return m_poller.NextStart(now + gap);
}

void CClockWatch::ShowEstimate(double now) {
    const COffsetEstimator& estimate = Estimate();
    m_offsetText = QString::fromStdString(
        FormatString(GetString(IDS_WATCH_OFFSET_VALUE).c_str(), estimate.Offset(), estimate.Uncertainty()));
    using namespace std::chrono;
    const THostTime host{milliseconds(static_cast<long long>(now * 1000.0))};
    const std::optional<TClockUtcFields> told = m_poller.LastTold();
    const std::optional<milliseconds> offset = told ? ClockOffset(*told, host) : std::nullopt;
    if (offset) {
        // The whole second the clock told, on the date nearest the PC's.
        const std::time_t clock = static_cast<std::time_t>((host.time_since_epoch() + *offset).count() / 1000);
        std::tm utc{};
        char text[64] = {};
        if (::gmtime_r(&clock, &utc) && std::strftime(text, sizeof text, GetString(IDS_WATCH_TIME_FORMAT).c_str(), &utc))
            m_timeText = QString::fromLatin1(text);
    }
    m_toldAt = now;
    m_fresh = true;
    ShowValues();
    // A long silence is a gap on the plot, not a straight line across it.
    if (!m_points.empty() && now - m_points.back().host > kBreakGap) ++m_run;
    m_points.push_back({now, estimate.Offset(), estimate.Uncertainty(), m_run});
    while (!m_points.empty() && m_points.front().host < now - kKeptSeconds) m_points.pop_front();
    Plot();
}

void CClockWatch::ShowValues() {
    const std::string asOf = LocalTimeOfDay(m_toldAt);
    for (const auto& [label, text] : {std::pair{m_time, m_timeText}, std::pair{m_offset, m_offsetText}}) {
        const bool old = !m_fresh && !text.isEmpty();
        label->setText(old ? QString::fromStdString(FormatString(GetString(IDS_WATCH_AS_OF).c_str(),
                                                                 text.toStdString().c_str(), asOf.c_str()))
                           : text);
        label->setEnabled(!old);
    }
}

CClockWatch::TRunSeries CClockWatch::AddRunSeries() {
    TRunSeries run;
    run.line = new QLineSeries;
    run.upper = new QLineSeries(this);
    run.lower = new QLineSeries(this);
    run.band = new QAreaSeries(run.upper, run.lower);
    m_chart->addSeries(run.band);
    m_chart->addSeries(run.line);
    // After the chart's theme gave each its own colour: every run alike.
    run.band->setColor(kBandColour);
    run.band->setBorderColor(Qt::transparent);
    run.line->setColor(kLineColour);
    for (QAbstractSeries* series : {static_cast<QAbstractSeries*>(run.band), static_cast<QAbstractSeries*>(run.line)}) {
        series->attachAxis(m_axisTime);
        series->attachAxis(m_axisOffset);
    }
    return run;
}

void CClockWatch::RemoveRunSeries(const TRunSeries& run) {
    // Given back by the chart, then deleted; the band before its edges.
    m_chart->removeSeries(run.line);
    m_chart->removeSeries(run.band);
    delete run.line;
    delete run.band;
    delete run.upper;
    delete run.lower;
}

void CClockWatch::Plot() {
    // Each run its own line, in the chart's order: the newest run's last.
    struct TRunPoints {
        QList<QPointF> line, upper, lower;
    };
    std::vector<TRunPoints> runs;
    double low = INFINITY, high = -INFINITY;
    for (std::size_t i = 0; i < m_points.size(); ++i) {
        const TPoint& point = m_points[i];
        if (i == 0 || point.run != m_points[i - 1].run) runs.emplace_back();
        const double x = point.host * 1000.0;
        runs.back().line.append({x, point.offset});
        runs.back().upper.append({x, point.offset + point.uncertainty});
        runs.back().lower.append({x, point.offset - point.uncertainty});
        low = std::min(low, point.offset);
        high = std::max(high, point.offset);
    }
    // One (empty) series at least, so the chart keeps its look.
    const std::size_t wanted = std::max<std::size_t>(1, runs.size());
    for (; m_runs.size() > wanted; m_runs.pop_back()) RemoveRunSeries(m_runs.back());
    while (m_runs.size() < wanted) m_runs.push_back(AddRunSeries());
    runs.resize(wanted);
    for (std::size_t i = 0; i < wanted; ++i) {
        m_runs[i].line->replace(runs[i].line);
        // A lone point makes no line: shown as a dot.
        m_runs[i].line->setPointsVisible(runs[i].line.size() == 1);
        m_runs[i].upper->replace(runs[i].upper);
        m_runs[i].lower->replace(runs[i].lower);
    }
    const double end = m_points.empty() ? HostSeconds() : m_points.back().host;
    const double start = m_points.empty() ? end - kLeastSpan : std::min(m_points.front().host, end - kLeastSpan);
    m_axisTime->setRange(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(start * 1000.0)),
                         QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(end * 1000.0)));
    // The offsets fill the height; the band shows as far as the newest uncertainty.
    if (!m_points.empty()) {
        const double margin = std::max(0.01, m_points.back().uncertainty);
        m_axisOffset->setRange(low - margin, high + margin);
    }
}
