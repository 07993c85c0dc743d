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

}  // namespace

CClockWatch::CClockWatch(CCommPage& page, QWidget* parent) : QWidget(parent), m_page(page) {
    m_check = CCommPage::TagControl(new QCheckBox(Text(IDS_WATCH), this), static_cast<int>(IDC_WATCH));
    m_time = CCommPage::TagControl(new QLabel(this), static_cast<int>(IDC_WATCH_TIME));
    m_offset = CCommPage::TagControl(new QLabel(this), static_cast<int>(IDC_WATCH_OFFSET));
    // A value's name for a screen reader is its label's.
    m_time->setAccessibleName(Text(IDS_WATCH_CLOCK_TIME));
    m_offset->setAccessibleName(Text(IDS_WATCH_OFFSET));
    for (QLabel* value : {m_time, m_offset}) value->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_line = new QLineSeries(this);
    m_upper = new QLineSeries(this);
    m_lower = new QLineSeries(this);
    m_band = new QAreaSeries(m_upper, m_lower);
    m_band->setColor(QColor(32, 120, 180, 60));
    m_band->setBorderColor(Qt::transparent);
    m_chart = new QChart;
    m_chart->legend()->hide();
    m_chart->setMargins(QMargins(4, 4, 4, 4));
    m_chart->addSeries(m_band);
    m_chart->addSeries(m_line);
    m_axisTime = new QDateTimeAxis;
    m_axisTime->setFormat(QStringLiteral("HH:mm:ss"));
    m_axisTime->setTitleText(Text(IDS_WATCH_AXIS_TIME));
    m_axisOffset = new QValueAxis;
    // The unit on each label: a title would take the little width there is.
    m_axisOffset->setLabelFormat(Text(IDS_WATCH_AXIS_OFFSET));
    m_axisOffset->setRange(-0.5, 0.5);
    m_chart->addAxis(m_axisTime, Qt::AlignBottom);
    m_chart->addAxis(m_axisOffset, Qt::AlignLeft);
    for (QAbstractSeries* series : {static_cast<QAbstractSeries*>(m_band), static_cast<QAbstractSeries*>(m_line)}) {
        series->attachAxis(m_axisTime);
        series->attachAxis(m_axisOffset);
    }
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
    layout->addLayout(grid);
    layout->addWidget(m_view, 1);

    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, this, [this] { OnDue(); });
    QObject::connect(m_check, &QCheckBox::toggled, this, [this](bool on) {
        if (on) m_polls = 0;
        Update();
    });
}

CClockWatch::~CClockWatch() = default;

bool CClockWatch::ShouldRun() const {
    const CCommPort* port = m_page.GetPort();
    return m_check->isChecked() && isVisible() && port && port->IsOpen() && m_page.GetClockState();
}

void CClockWatch::Update() {
    const CCommPort* port = m_page.GetPort();
    const bool open = port && port->IsOpen();
    if (m_portWasOpen && !open) {
        m_poller.Clear();
        m_retrySeconds = 0;
    }
    m_portWasOpen = open;
    if (!ShouldRun()) {
        m_timer.stop();
        return;
    }
    if (!m_timer.isActive() && !m_polling) ScheduleAt(m_poller.NextStart(HostSeconds()));
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
    // The port may have closed meanwhile (its device gone), or the page gone out of sight.
    const double next = ran && asked ? Learnt(result, HostSeconds()) : HostSeconds() + kBusyGap;
    if (ShouldRun()) ScheduleAt(next);
}

double CClockWatch::Learnt(const TClockResult& result, double now) {
    if (!result) {
        // A clock that does not answer is asked less and less often, so the
        // window is not held up by waits for it.
        m_retrySeconds = m_retrySeconds == 0 ? kFirstRetrySeconds : std::min(2 * m_retrySeconds, kLastRetrySeconds);
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
    m_offset->setText(QString::fromStdString(
        FormatString(GetString(IDS_WATCH_OFFSET_VALUE).c_str(), estimate.Offset(), estimate.Uncertainty())));
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
            m_time->setText(QString::fromLatin1(text));
    }
    m_points.push_back({now, estimate.Offset(), estimate.Uncertainty()});
    while (!m_points.empty() && m_points.front().host < now - kKeptSeconds) m_points.pop_front();
    Plot();
}

void CClockWatch::Plot() {
    QList<QPointF> line, upper, lower;
    double low = INFINITY, high = -INFINITY;
    for (const TPoint& point : m_points) {
        const double x = point.host * 1000.0;
        line.append({x, point.offset});
        upper.append({x, point.offset + point.uncertainty});
        lower.append({x, point.offset - point.uncertainty});
        low = std::min(low, point.offset);
        high = std::max(high, point.offset);
    }
    m_line->replace(line);
    m_upper->replace(upper);
    m_lower->replace(lower);
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
