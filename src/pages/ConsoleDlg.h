// The "Console" page: a plain terminal to the clock. A line finished with
// Enter in the input goes to the port as it is (no line ending); what the
// clock sends while the page is shown appears in the output above it. While
// the page's tab is current the two clock transfers of the File menu stay
// grayed, so they never compete with the reader thread for received bytes.
// Received bytes come in through OnReceivedData, while the page is shown.
#pragma once

#include <cstddef>
#include <string>

#include <QByteArray>

#include "CommPage.h"

class QPlainTextEdit;
class QTimer;

class CConsoleDlg : public CCommPage {
    Q_OBJECT

public:
    explicit CConsoleDlg(QWidget* parent = nullptr);
    ~CConsoleDlg() override;

    // Longest line sent to the clock, in characters.
    static constexpr int kMaxSentLength = 79;
    // The output keeps this many lines; the oldest go first.
    static constexpr int kMaxOutputLines = 10000;
    // Received text without a line end is held back, but not beyond this.
    static constexpr std::size_t kMaxPending = 4096;
    // A line longer than this is broken, as a terminal wraps it: a clock that
    // never ends its line neither fills the memory nor slows each showing.
    static constexpr int kMaxLineLength = 1024;
    // Text ready to show goes into the output at most this often, in one
    // insertion: inserting and scrolling line by line costs several times more.
    static constexpr int kShowIntervalMs = 250;
    // Ready text beyond this is shown at once, so a fast line never piles up.
    static constexpr std::size_t kMaxUnshown = 64 * 1024;

    void OnSetActive() override;
    void OnKillActive() override;

    // Received bytes: printable ASCII, CR and LF are kept, the rest dropped.
    // The kept text waits until a block with a line end arrives.
    void OnReceivedData(const unsigned char* data, std::size_t count);
    void OnReceivedData(const QByteArray& bytes);
    // Empties the output: each showing of the page starts with an empty one.
    void ClearOutput();
    // Writes the line the user has just finished with Enter in the input.
    void SendInputLine();

    // The kept bytes of a received block; lineEnd tells whether it held a CR or LF.
    static std::string FilterReceived(const unsigned char* data, std::size_t count, bool& lineEnd);

    // Null until the page has first been shown.
    QPlainTextEdit* GetInput() const { return m_editInput; }
    QPlainTextEdit* GetOutput() const { return m_editOutput; }

signals:
    // The page was shown or hidden (not merely minimised): reading follows it.
    void ShownChanged(bool shown);

protected:
    bool OnInitDialog() override;
    void OnPortStateChanged() override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    // Enter and Escape are seen whichever of the two edits has the focus.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The input works exactly while the port is open.
    void EnableInput();
    // Appends at the end of the output, CR LF and lone CR taken as one line end.
    void AppendOutput(const std::string& text);
    // Puts the text ready to show into the output, in one insertion.
    void ShowReady();

    QPlainTextEdit* m_editInput = nullptr;
    QPlainTextEdit* m_editOutput = nullptr;
    std::string m_strPending;
    std::string m_strReady;         // ended text waiting for the next showing
    QTimer* m_showTimer = nullptr;  // running: the output was filled less than an interval ago
    bool m_active = false;
    bool m_lastWasCR = false;  // the output's last text ended with a CR
};
