#include "SetupDlg.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QScrollBar>
#include <QStyle>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalBlocker>

#include <algorithm>
#include <cctype>
#include <functional>
#include <utility>

#include "ClockState.h"
#include "CommPort.h"
#include "ElidedLabel.h"
#include "NetDevice.h"
#include "PortCatalogue.h"
#include "PortSettings.h"
#include "Profile.h"
#include "ProfileKeys.h"
#include "ControlIds.h"
#include "Resource.h"
#include "StringTable.h"
#include "TextUtil.h"
#include "WaitCursor.h"

namespace {

constexpr const char* kSection = ProfileKeys::COMMUNICATION;

void SetUpCombo(QComboBox* combo, unsigned id, bool editable) {
    CToolTipPage::TagControl(combo, static_cast<int>(id));
    combo->setEditable(editable);
    // Typed text is used as it is; it never becomes a list entry.
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setMinimumContentsLength(10);
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
}

QComboBox* MakeCombo(QWidget* parent, unsigned id, bool editable) {
    auto* combo = new QComboBox(parent);
    SetUpCombo(combo, id, editable);
    return combo;
}

// The port list is read again each time it drops down, so a USB adapter
// plugged in while tarvel runs can be picked without a restart.
class CPortCombo : public QComboBox {
public:
    CPortCombo(QWidget* parent, std::function<void()> refresh) : QComboBox(parent), m_refresh(std::move(refresh)) {}
    void showPopup() override {
        if (m_refresh) m_refresh();
        // The list is as wide as its longest entry: the descriptions are
        // what tells the adapters apart.
        QAbstractItemView* list = view();
        list->setMinimumWidth(list->sizeHintForColumn(0) + 2 * list->frameWidth() +
                              style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list));
        QComboBox::showPopup();
    }

private:
    std::function<void()> m_refresh;
};

}  // namespace

CSetupDlg::CSetupDlg(QWidget* parent) : CCommPage(IDD_COMM_PORT, parent) {
    m_comboModel = MakeCombo(this, IDC_MODEL, false);
    m_comboPort = new CPortCombo(this, [this] { RefreshPorts(); });
    SetUpCombo(m_comboPort, IDC_COMM_PORT, true);
    // Wide enough for device paths and "SIM (simulated clock)".
    m_comboPort->setMinimumContentsLength(22);
    m_comboBaud = MakeCombo(this, IDC_BAUD, true);
    m_comboDataBits = MakeCombo(this, IDC_DATA_BITS, true);
    m_comboParity = MakeCombo(this, IDC_PARITY, true);
    m_comboStopBits = MakeCombo(this, IDC_STOP_BITS, true);
    m_btnOpen = TagControl(new QPushButton(QStringLiteral("&Open Comm Port"), this), IDC_OPEN_PORT);
    m_btnFind = TagControl(new QPushButton(QString::fromStdString(GetString(IDS_FIND_CLOCK)), this), IDC_FIND_CLOCK);

    // Model, port and baud on the first row; data, parity and stop on the
    // second; the button below them at the left.
    auto* grid = new QGridLayout(this);
    const struct {
        const char* label;
        QComboBox* combo;
    } cells[] = {{"Model", m_comboModel},     {"Comm Port", m_comboPort}, {"Baud", m_comboBaud},
                 {"Data", m_comboDataBits}, {"Parity", m_comboParity},  {"Stop", m_comboStopBits}};
    for (int i = 0; i < 6; ++i) {
        const int row = (i / 3) * 2;
        const int column = i % 3;
        auto* label = new QLabel(QString::fromLatin1(cells[i].label), this);
        // The list's name for a screen reader (LabelledCombo.h), on every platform.
        label->setBuddy(cells[i].combo);
        cells[i].combo->setAccessibleName(label->text().remove(QLatin1Char('&')));
        grid->addWidget(label, row, column);
        grid->addWidget(cells[i].combo, row + 1, column);
    }
    grid->addWidget(m_btnOpen, 4, 0);
    grid->addWidget(m_btnFind, 4, 1);
    // The port's state, always in view: open with what, closed, or why not
    // and what to do, on as many lines as that takes.
    m_portState = new CElidedLabel(this);
    m_portState->SetMaxLines(6);
    m_portState->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(m_portState, 5, 0, 1, 4);
    grid->setRowMinimumHeight(2, 12);
    grid->setRowStretch(6, 1);
    // A wider window widens the lists, the port's most: its descriptions are
    // what tell the adapters apart.
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 2);
    grid->setColumnStretch(2, 1);

    // Only what the user picks counts as a change of model; filling and
    // preselecting the list do not.
    connect(m_comboModel, &QComboBox::activated, this, [this](int index) { OnSelChangeModel(index); });
    connect(m_btnOpen, &QPushButton::clicked, this, [this] { OnOpenCommPort(); });
    connect(m_btnFind, &QPushButton::clicked, this, [this] { OnFindClock(); });
}

CSetupDlg::~CSetupDlg() { StopProbe(); }

void CSetupDlg::StopProbe() {
    if (m_probe) m_probe->Cancel();
    if (m_probeThread.joinable()) m_probeThread.join();
}

void CSetupDlg::OnFindClock() {
    if (m_probe || (GetSheet() && GetSheet()->IsBusy())) return;
    UpdateData();
    std::vector<std::string> ports = CClockProbe::ListedPorts();
    // The port named in the combo too: a network port, the simulated clock.
    const std::string named = CPortCatalogue::OpenName(m_strPort);
    if (!named.empty() && std::find(ports.begin(), ports.end(), named) == ports.end()) ports.push_back(named);

    // The port's own device is among those tried: it must be free.
    m_reopenAfterProbe = false;
    if (CCommPort* port = GetPort(); port && port->IsOpen()) {
        m_reopenAfterProbe = true;
        port->Close();
        emit PortChanged();
        ShowPortState();
    }
    if (GetSheet()) GetSheet()->BlockTransfers(true);
    m_btnOpen->setEnabled(false);
    m_btnFind->setEnabled(false);

    m_probe = std::make_unique<CClockProbe>();
    m_probeDialog = new QProgressDialog(QString::fromStdString(GetString(IDS_FIND_CLOCK_TITLE)),
                                        QString::fromStdString(GetString(IDS_FIND_CLOCK_CANCEL)), 0,
                                        static_cast<int>(ports.size() * CClockProbe::Rates().size()), this);
    m_probeDialog->setWindowTitle(QString::fromStdString(GetString(IDS_FIND_CLOCK_TITLE)));
    m_probeDialog->setWindowModality(Qt::WindowModal);
    m_probeDialog->setMinimumDuration(0);
    m_probeDialog->setAutoClose(false);
    m_probeDialog->setAutoReset(false);
    CClockProbe* probe = m_probe.get();
    connect(m_probeDialog, &QProgressDialog::canceled, this, [probe] { probe->Cancel(); });
    m_probeDialog->show();

    // The results come back as queued calls; none arrives once the page is
    // gone, since the page waits for the thread before it goes.
    probe->SetProgress([this](const std::string& port, std::uint32_t rate, int done, int total) {
        QMetaObject::invokeMethod(
            this, [this, port, rate, done, total] { OnProbeProgress(port, rate, done, total); }, Qt::QueuedConnection);
    });
    m_probeThread = std::thread([this, probe, ports] {
        const std::vector<TProbeFound> found = probe->Run(ports);
        QMetaObject::invokeMethod(this, [this, found] { OnProbeDone(found); }, Qt::QueuedConnection);
    });
}

void CSetupDlg::OnProbeProgress(const std::string& port, unsigned rate, int done, int total) {
    if (!m_probeDialog) return;
    m_probeDialog->setLabelText(
        QString::fromStdString(FormatString(GetString(IDS_FIND_CLOCK_PROGRESS).c_str(), port.c_str(), rate)));
    m_probeDialog->setMaximum(total);
    // Last: a modal dialog's setValue dispatches events, the end of the search among them.
    m_probeDialog->setValue(std::min(done, total));
}

void CSetupDlg::OnProbeDone(const std::vector<TProbeFound>& found) {
    const bool cancelled = m_probe && m_probe->Cancelled();
    StopProbe();
    m_probe.reset();
    if (m_probeDialog) {
        m_probeDialog->deleteLater();
        m_probeDialog = nullptr;
    }
    m_btnOpen->setEnabled(true);
    m_btnFind->setEnabled(true);
    if (GetSheet()) GetSheet()->BlockTransfers(false);

    if (!found.empty()) {
        // The first clock found; its line is 8N1 at the rate it answered.
        const TProbeFound& clock = found.front();
        const int entry = FindPort(m_comboPort, clock.port, m_ports);
        if (entry >= 0)
            m_comboPort->setCurrentIndex(entry);
        else
            m_comboPort->setEditText(QString::fromStdString(clock.port));
        const QString rate = QString::number(clock.rate);
        const int baud = m_comboBaud->findText(rate);
        if (baud >= 0)
            m_comboBaud->setCurrentIndex(baud);
        else
            m_comboBaud->setEditText(rate);
        auto pick = [](QComboBox* combo, unsigned id) {
            const int i = combo->findText(QString::fromStdString(GetString(id)));
            if (i >= 0) combo->setCurrentIndex(i);
        };
        pick(m_comboDataBits, IDS_DATA_LAST);
        pick(m_comboParity, IDS_PARITY_FIRST);
        pick(m_comboStopBits, IDS_STOP_FIRST);
        if (const int model = m_comboModel->findText(QString::fromStdString(clock.model)); model >= 0) {
            m_comboModel->setCurrentIndex(model);
            OnSelChangeModel(model);
        }
    }
    // Found: opened with what was found; else as it was before.
    if (!found.empty() || m_reopenAfterProbe) OnOpenCommPort();
    if (!found.empty()) {
        const TProbeFound& clock = found.front();
        const std::string rate = std::to_string(clock.rate);
        const std::string text =
            clock.model.empty()
                ? FormatString(GetString(IDS_FIND_CLOCK_FOUND).c_str(), clock.port.c_str(), rate.c_str())
                : FormatString(GetString(IDS_FIND_CLOCK_FOUND_MODEL).c_str(), clock.model.c_str(), clock.port.c_str(),
                               rate.c_str());
        if (GetSheet()) GetSheet()->ShowStatusText(text);
    } else if (!cancelled && GetSheet()) {
        GetSheet()->ShowMessage(GetString(IDS_FIND_CLOCK_NONE));
    }
    emit FindClockDone(!found.empty());
}

bool CSetupDlg::OnInitDialog() {
    CCommPage::OnInitDialog();
    std::vector<std::string> entries;
    if (CClockState* state = GetClockState()) state->GetModelList(entries);
    Fill(m_comboModel, entries);
    FillPorts();
    CPortSettings::ListBauds(entries);
    Fill(m_comboBaud, entries);
    CPortSettings::ListDataLengths(entries);
    Fill(m_comboDataBits, entries);
    CPortSettings::ListParities(entries);
    Fill(m_comboParity, entries);
    CPortSettings::ListStopLengths(entries);
    Fill(m_comboStopBits, entries);
    LoadSettings();
    ShowPortState();
    return true;
}

std::string CSetupDlg::GetPortStateText() const {
    return m_portState->FullText().toStdString();
}

void CSetupDlg::ShowPortState() {
    CCommPort* port = GetPort();
    std::string text;
    std::string name;
    CPortSettings now;
    if (port && port->IsOpen() && port->GetSettings(now) && now.GetPortName(name)) {
        std::string path = CPortCatalogue::DevicePath(name);
        // A stable name with the device it points at now.
        if (path == name) path = CPortCatalogue::StableTarget(name);
        const std::string where = path.empty() || path == name ? name : name + " (" + path + ")";
        std::string baud, data, parity, stop;
        now.GetBaud(baud);
        now.GetDataLength(data);
        now.GetParity(parity);
        now.GetStopLength(stop);
        // "No Parity", "Odd", "Even", "Mark", "Space": the usual one letter.
        const std::string frame = data + (parity.empty() ? std::string("?") : std::string(1, parity[0])) + stop;
        text = FormatString(GetString(IDS_PORT_STATE_OPEN).c_str(), where.c_str(), baud.c_str(), frame.c_str());
    } else if (port && !port->GetOpenFailure().empty()) {
        text = FormatString(GetString(IDS_PORT_STATE_FAILED).c_str(), port->GetOpenFailure().c_str());
    } else if (port && !port->GetGoneName().empty()) {
        // Which device went, and how to get it back.
        const std::string& gone = port->GetGoneName();
        text = FormatString(GetString(IsNetworkPortName(gone) ? IDS_PORT_STATE_LOST : IDS_PORT_STATE_GONE).c_str(),
                            gone.c_str());
    } else {
        text = GetString(IDS_PORT_STATE_CLOSED);
    }
    m_portState->SetFullText(QString::fromStdString(text));
}

void CSetupDlg::RefreshPorts() {
    // What the user picked or typed stays as it is.
    const QString text = m_comboPort->currentText();
    const QSignalBlocker quiet(m_comboPort);
    m_comboPort->clear();
    FillPorts();
    const int index = m_comboPort->findText(text);
    if (index >= 0)
        m_comboPort->setCurrentIndex(index);
    else
        m_comboPort->setEditText(text);
}

void CSetupDlg::Fill(QComboBox* combo, std::vector<std::string>& entries) {
    for (const std::string& entry : entries) combo->addItem(QString::fromStdString(entry));
    // Emptied for the next list.
    entries.clear();
}

int CSetupDlg::FindPrefix(const QComboBox* combo, const std::string& text) {
    if (!combo || text.empty()) return -1;
    const QString prefix = QString::fromStdString(text);
    for (int i = 0; i < combo->count(); ++i)
        if (combo->itemText(i).startsWith(prefix, Qt::CaseInsensitive)) return i;
    return -1;
}

void CSetupDlg::FillPorts() {
    // Reading the ports takes a while: once for the list, its tips and the preselection.
    m_ports = CPortCatalogue::ListEntries();
    for (const auto& entry : m_ports) {
        m_comboPort->addItem(QString::fromStdString(entry.Listed()));
        if (entry.stableName.empty()) continue;
        m_comboPort->setItemData(
            m_comboPort->count() - 1,
            QString::fromStdString(FormatString(GetString(IDS_PORT_STABLE_TIP).c_str(), entry.stableName.c_str())),
            Qt::ToolTipRole);
    }
}

int CSetupDlg::FindPort(const QComboBox* combo, const std::string& stored,
                        const std::vector<CPortCatalogue::TEntry>& ports) {
    const std::string wanted(Trim(stored));
    if (!combo || wanted.empty()) return -1;
    for (int i = 0; i < combo->count(); ++i) {
        const std::string text = combo->itemText(i).toStdString();
        for (const auto& entry : ports)
            if (entry.Listed() == text && (EqualNoCase(wanted, entry.name) || wanted == entry.OpenName()))
                return i;
    }
    const int index = FindPrefix(combo, wanted);
    if (index < 0 || !std::isdigit(static_cast<unsigned char>(wanted.back()))) return index;
    const QString match = combo->itemText(index);
    const auto wantedLength = static_cast<qsizetype>(QString::fromStdString(wanted).size());
    return match.size() > wantedLength && match.at(wantedLength).isDigit() ? -1 : index;
}

int CSetupDlg::Preselect(QComboBox* combo, const std::string& stored) {
    const int index = FindPrefix(combo, stored);
    // Nothing found (-1): no selection, and no text in the typing field either.
    combo->setCurrentIndex(index);
    return index;
}

void CSetupDlg::LoadSettings() {
    CClockState* state = GetClockState();
    std::string def;
    std::vector<std::string> models;
    if (state) state->GetModelList(models);
    def = models.empty() ? std::string() : models.front();
    // The combo lists the models in index order, so the model's index is its row.
    const int model = CClockModel::FindModel(GetProfileString(kSection, ProfileKeys::MODEL, def));
    if (model >= 0 && state) state->SetModel(model);
    m_comboModel->setCurrentIndex(model);

    // The stored settings, or their defaults; an empty one selects nothing.
    CPortSettings stored;
    stored.LoadProfile();
    std::string text;
    // The open port is what the state line names; else what will be opened.
    const CCommPort* port = GetPort();
    if (!port || !port->IsOpen() || !port->GetPortName(text)) stored.GetPortName(text);
    const int entry = FindPort(m_comboPort, text, m_ports);
    m_comboPort->setCurrentIndex(entry);
    if (entry < 0) m_comboPort->setEditText(QString::fromStdString(text));
    const struct {
        QComboBox* combo;
        bool (CPortSettings::*get)(std::string&) const;
    } lines[] = {{m_comboBaud, &CPortSettings::GetBaud}, {m_comboDataBits, &CPortSettings::GetDataLength},
                 {m_comboParity, &CPortSettings::GetParity}, {m_comboStopBits, &CPortSettings::GetStopLength}};
    for (const auto& line : lines) {
        text.clear();
        (stored.*line.get)(text);
        Preselect(line.combo, text);
    }
}

void CSetupDlg::UpdateData() {
    m_strModel = m_comboModel->currentText().toStdString();
    m_strPort = m_comboPort->currentText().toStdString();
    m_strBaud = m_comboBaud->currentText().toStdString();
    m_strDataBits = m_comboDataBits->currentText().toStdString();
    m_strParity = m_comboParity->currentText().toStdString();
    m_strStopBits = m_comboStopBits->currentText().toStdString();
}

void CSetupDlg::OnOpenCommPort() {
    // Not while a transfer with the clock runs.
    if (GetSheet() && GetSheet()->IsBusy()) return;
    UpdateData();
    // Texts the line cannot take are left out; the window opens the port
    // with the rest, and the port reports its own failures.
    CPortSettings chosen;
    chosen.SetPortName(m_strPort);
    chosen.SetBaud(m_strBaud);
    chosen.SetDataLength(m_strDataBits);
    chosen.SetParity(m_strParity);
    chosen.SetStopLength(m_strStopBits);
    if (GetSheet()) {
        CWaitCursor wait;
        GetSheet()->OpenPort(chosen);
    }
    // Whatever the outcome: the menu and the other pages follow the port.
    emit PortChanged();
    ShowPortState();
    SaveSettings();
}

void CSetupDlg::OnSelChangeModel(int index) {
    if (index < 0) return;
    if (CClockState* state = GetClockState()) state->SetModel(index);
}

void CSetupDlg::SaveSettings() {
    std::string text;
    // A model outside the list has no name; the stored one is kept then.
    if (CClockState* state = GetClockState(); state && state->GetModelName(text))
        WriteProfileString(kSection, ProfileKeys::MODEL, text);
    // The name alone while the port is closed.
    if (CCommPort* port = GetPort()) {
        CPortSettings now;
        port->GetSettings(now);
        now.SaveProfile();
    }
}

void CSetupDlg::OnDestroyPage() {
    if (m_destroyed || !IsCreated()) return;
    m_destroyed = true;
    SaveSettings();
}
