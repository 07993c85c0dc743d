// The Location page's watch of the clock: while its box is checked, the page
// is shown, the port is open and no transfer runs, it asks the clock for its
// time now and then, each ask a clock command of the window's like the
// page's own, and shows the clock's time, its offset from the PC with the
// uncertainty, and the offset over the last hour. Between asks nothing
// blocks: a timer starts the next one where the estimator aims.
//
// Values no ask has confirmed since (the watch stopped, or the last ask
// failed) are greyed and say when they were told. A closed port stops the
// watch with a note that says so. The plot draws each run of points as a
// line of its own: a new run starts when the box is checked, when the port
// closes or another opens (perhaps another clock), when a clock was set, and
// after a gap much longer than the asks' pace.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include <QTimer>
#include <QWidget>

#include "ClockResult.h"
#include "OffsetPoll.h"

class CCommPage;
class QAreaSeries;
class QChart;
class QChartView;
class QCheckBox;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QValueAxis;

class CClockWatch : public QWidget {
public:
    // One estimate on the plot, on the PC's time scale in seconds.
    struct TPoint {
        double host = 0;
        double offset = 0;
        double uncertainty = 0;
        int run = 0;  // points of one run are joined on the plot
    };

    // What is kept and how often the clock is asked, in seconds.
    static constexpr double kKeptSeconds = 3600;
    // The plot spans what is kept, but never less than this.
    static constexpr double kLeastSpan = 10;
    // Asks follow one another this closely until the estimate is settled,
    static constexpr double kSettlingGap = 0.5;
    static constexpr double kSettled = 0.05;
    // then leave the line mostly to the user.
    static constexpr double kSettledGap = 10;
    // A transfer running: looked at again after this.
    static constexpr double kBusyGap = 0.5;
    // A failed ask: asked again after this, doubled on each failure in a row.
    static constexpr int kFirstRetrySeconds = 5;
    static constexpr int kLastRetrySeconds = 60;
    // Two points further apart than this are not joined on the plot.
    static constexpr double kBreakGap = 3 * kSettledGap;

    CClockWatch(CCommPage& page, QWidget* parent);
    ~CClockWatch() override;

    // The port, the page or the box changed: starts or pauses the asks. A
    // closed port forgets what was learnt (the next may be another clock).
    void Update();
    // The clock or the PC was set: the estimate and the line start afresh.
    void ClockWasSet();

    // A poll is due or under way: false while paused.
    bool IsAsking() const { return m_timer.isActive() || m_polling; }
    // Polls that gave a time since the box was last checked.
    int GetPolls() const { return m_polls; }
    const std::deque<TPoint>& GetPoints() const { return m_points; }
    const COffsetEstimator& Estimate() const { return m_poller.Estimate(); }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // Open, and its device not found gone.
    bool PortUsable() const;
    bool ShouldRun() const;
    void ScheduleAt(double host);
    void OnDue();
    // Shows a poll's outcome; the next poll's start.
    double Learnt(const TClockResult& result, double now);
    void ShowEstimate(double now);
    // The time and offset as told, greyed with their time when not fresh.
    void ShowValues();
    // The watch paused or stopped: what it shows is old; the note says why.
    void Paused(bool portClosed);
    void Plot();

    // One run's line and its uncertainty band on the chart.
    struct TRunSeries {
        QLineSeries* line = nullptr;
        QLineSeries* upper = nullptr;
        QLineSeries* lower = nullptr;
        QAreaSeries* band = nullptr;
    };
    TRunSeries AddRunSeries();
    void RemoveRunSeries(const TRunSeries& run);

    CCommPage& m_page;
    QCheckBox* m_check = nullptr;
    QLabel* m_time = nullptr;
    QLabel* m_offset = nullptr;
    QLabel* m_note = nullptr;
    QChart* m_chart = nullptr;
    QChartView* m_view = nullptr;
    std::vector<TRunSeries> m_runs;  // oldest first; at least one
    QDateTimeAxis* m_axisTime = nullptr;
    QValueAxis* m_axisOffset = nullptr;

    QTimer m_timer;
    double m_due = 0;  // host seconds the timer aims at
    bool m_polling = false;
    unsigned m_portOpened = 0;  // the port's open watched (CCommPort::OpenSerial); 0: closed
    int m_run = 0;              // the run new points join
    int m_polls = 0;
    // The values shown: as told, when, and whether an ask confirmed them since.
    QString m_timeText;
    QString m_offsetText;
    double m_toldAt = 0;
    bool m_fresh = false;
    int m_retrySeconds = 0;  // 0: the last poll gave a time
    COffsetPoller m_poller;
    std::deque<TPoint> m_points;
};
