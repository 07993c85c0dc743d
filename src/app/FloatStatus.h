// The status line: a borderless tool window as wide as the main window, kept
// flush under it. Where the platform does not let a program place its windows
// (Wayland), it is docked at the bottom of the main window instead.
#pragma once

#include <QWidget>

#include <string>

class QLabel;
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

    // Pane 0; the text stays until the next one replaces it.
    void SetText(const std::string& text);
    std::string GetText() const { return m_text; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_pParent = nullptr;
    QStatusBar* m_statusBar;
    QLabel* m_pane;
    std::string m_text;
    bool m_docked = false;
};
