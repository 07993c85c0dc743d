// The countdown a write to the clock waits in: counts whole seconds down from
// the upper end of its range, with a progress bar, and closes itself at 0.
#pragma once

#include <QDialog>
#include <QTimer>

#include "ClockUi.h"

class QLabel;
class QProgressBar;
class QPushButton;

class CDlgCommDelay : public QDialog, public ICountdown {
public:
    CDlgCommDelay(int lower, int upper, int step, QWidget* parent = nullptr);

    // IDOK when the count reached 0 or OK was pressed; IDCANCEL on Cancel,
    // Escape or close. Each run starts afresh from the stored range.
    int DoModal() override;
    void SetRange(int lower, int upper) override;
    // The stage of the write the next run waits for, on a line of its own
    // above the count.
    void SetStage(const std::string& stage) override;

    // The tick period of dialogs made from now on (1000 ms unless changed);
    // tests shorten it.
    static void SetDefaultTickMs(int ms);
    static int GetDefaultTickMs();
    void SetTickMs(int ms);

    // For tests and the screenshots: the text and the bar as shown now.
    QString GetCountText() const;
    QString GetStageText() const;
    int GetBarValue() const;
    QPushButton* GetOkButton() const { return m_ok; }
    QPushButton* GetCancelButton() const { return m_cancel; }

private:
    void OnInitDialog();
    // Centred over the window it belongs to, on that window's screen: a
    // window manager may put a window without a title bar anywhere.
    void PlaceOverParent();
    void OnTimer();
    void ShowCount(int count);

    QProgressBar* m_progress;
    QLabel* m_stageText;
    QLabel* m_countText;
    QPushButton* m_ok;
    QPushButton* m_cancel;
    QTimer m_timer;
    int m_nLower;
    int m_nUpper;
    int m_nStep;
    int m_position = 0;
    int m_tickMs;
};
