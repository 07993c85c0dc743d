// The "Comm Port" page: the clock model and the serial line settings, the
// button that (re)opens the port with them, and their place in the profile
// (section "Communication").
#pragma once

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ClockProbe.h"
#include "CommPage.h"
#include "PortCatalogue.h"

class CElidedLabel;
class QComboBox;
class QLabel;
class QProgressDialog;
class QPushButton;

class CSetupDlg : public CCommPage {
    Q_OBJECT

public:
    explicit CSetupDlg(QWidget* parent = nullptr);
    // Saves nothing: by now the sheet's port and configuration may be gone.
    // The sheet calls OnDestroyPage while they still exist.
    ~CSetupDlg() override;

    // Preselects the stored (or default) model and line settings; a stored
    // model also becomes the configuration's model. The port: the open
    // port's name, else the stored one; a name no entry stands for (a typed
    // one) is shown as it is.
    void LoadSettings();
    // Stores the model always, the port name when the port holds one, and
    // each line setting that can be read from the open port.
    void SaveSettings();

    // "&Open Comm Port": hands the port named in the port combo (picked or
    // typed) and the chosen line settings to the window, which opens the
    // port with them; then says that the port changed, and saves.
    void OnOpenCommPort();
    // The line under the button: "Open: COM1 (/dev/ttyS0) 9600 8N1",
    // "Closed", why the last open failed, or which device was unplugged, and
    // what to do. One line: a long one loses its middle, the whole text is
    // its tool tip (and what GetPortStateText gives).
    void ShowPortState();
    std::string GetPortStateText() const;

    // "&Find Clock": closes the port and tries every present port, and the
    // one in the port combo, at every rate (ClockProbe.h) on a thread of its
    // own, with a progress dialog whose Cancel stops it. Where a clock
    // answered, its port and rate (8N1) are filled in and opened; else the
    // port is opened again as it was and a message says none was found.
    void OnFindClock();
    bool IsFindingClock() const { return m_probe != nullptr; }

    // A model picked by the user takes effect at once.
    void OnSelChangeModel(int index);

    // The window goes away at the end of the run: the settings are saved,
    // once, if the page was ever set up.
    void OnDestroyPage();

    // The first entry of the combo that begins with text, ignoring case; -1
    // when there is none or text is empty.
    static int FindPrefix(const QComboBox* combo, const std::string& text);
    // The entry of the port combo a stored port name stands for: the entry
    // of that name or stable name, else the first one that begins with it
    // (but "/dev/ttyUSB1" is not the start of "/dev/ttyUSB10"); -1 if none.
    static int FindPort(const QComboBox* combo, const std::string& stored) {
        return FindPort(combo, stored, CPortCatalogue::ListEntries());
    }
    // The same with the ports the combo was filled from.
    static int FindPort(const QComboBox* combo, const std::string& stored,
                        const std::vector<CPortCatalogue::TEntry>& ports);

signals:
    // After every "&Open Comm Port", whether or not the port opened.
    void PortChanged();
    // A Find Clock has ended: found, none found, or cancelled.
    void FindClockDone(bool found);

protected:
    bool OnInitDialog() override;

private:
    // The texts of the six combos into the m_str members.
    void UpdateData();
    // Appends the entries and empties the list.
    void Fill(QComboBox* combo, std::vector<std::string>& entries);
    // Reads the ports (once) into m_ports and the port combo, each adapter
    // with its stable name as its entry's tool tip: the name that is stored.
    void FillPorts();
    // Lists the ports again, keeping the port text as it is.
    void RefreshPorts();
    // Selects the first entry beginning with the stored text, or nothing.
    int Preselect(QComboBox* combo, const std::string& stored);

    QComboBox* m_comboModel = nullptr;
    QComboBox* m_comboPort = nullptr;
    QComboBox* m_comboBaud = nullptr;
    QComboBox* m_comboDataBits = nullptr;
    QComboBox* m_comboParity = nullptr;
    QComboBox* m_comboStopBits = nullptr;
    QPushButton* m_btnOpen = nullptr;
    QPushButton* m_btnFind = nullptr;
    CElidedLabel* m_portState = nullptr;
    std::vector<CPortCatalogue::TEntry> m_ports;  // as the port combo lists them

    // The clock search: its progress, then its end, back on this thread.
    void OnProbeProgress(const std::string& port, unsigned rate, int done, int total);
    void OnProbeDone(const std::vector<TProbeFound>& found);
    void StopProbe();
    std::unique_ptr<CClockProbe> m_probe;
    std::thread m_probeThread;
    QProgressDialog* m_probeDialog = nullptr;
    bool m_reopenAfterProbe = false;

    std::string m_strModel;
    std::string m_strPort;
    std::string m_strBaud;
    std::string m_strDataBits;
    std::string m_strParity;
    std::string m_strStopBits;

    bool m_destroyed = false;
};
