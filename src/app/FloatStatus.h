// The status line: a borderless tool window as wide as the main window, kept
// flush under it. Where the platform does not let a program place its windows
// (Wayland), it is docked at the bottom of the main window instead. The
// window never becomes the active one, so its tool tip is shown whether or
// not it is, on hovering and on a click.
#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>

#include <string>

class CElidedLabel;
class QStatusBar;

class CFloatStatus : public QWidget {
public:
    CFloatStatus();
    ~CFloatStatus() override;

    // False where windows cannot be placed by the program.
    static bool CanFloat();

    // Follows parent: floating under it, or (docked) as a child the parent
    // puts into its own layout.
    void Create(QWidget* parent, bool docked);
    bool IsDocked() const { return m_docked; }

    // Moves the window back under the parent, as wide as the parent.
    void Reposition();

    // Pane 0; the text stays until the next one replaces it. Too long for
    // the pane, it loses its middle and the whole text becomes the tool tip;
    // toolTip, when given, is always the tool tip instead.
    void SetText(const std::string& text, const std::string& toolTip = std::string());
    // A text that comes with every block received ("Read 24 bytes."): shown
    // at once after a quiet spell, else the latest at the end of the
    // interval, so the line is repainted a few times a second at most. A
    // SetText meanwhile wins.
    void SetCountText(const std::string& text);
    static constexpr int kCountIntervalMs = 250;
    // The latest text, shown or about to be.
    std::string GetText() const { return m_text; }
    // What the pane shows now, and its tool tip.
    QString GetShownText() const;
    QString GetToolTip() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Show(const std::string& text, const std::string& toolTip);

    QWidget* m_pParent = nullptr;
    QStatusBar* m_statusBar;
    CElidedLabel* m_pane;
    std::string m_text;
    bool m_docked = false;
    QTimer m_countTimer;  // running: a count was shown less than an interval ago
    bool m_countWaiting = false;
};
