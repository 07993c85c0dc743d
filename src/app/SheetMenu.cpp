// The menu bar with its prompts in the status line, and the status line itself.
#include "ClockPropSheet.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>

#include "AboutDlg.h"
#include "ControlIds.h"
#include "Resource.h"
#include "StringTable.h"
#include "TextUtil.h"

void CClockPropSheet::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CClockPropSheet::BuildMenu() {
    m_menuBar = new QMenuBar(this);
    QMenu* file = m_menuBar->addMenu(tr("&File"));
    QMenu* load = file->addMenu(tr("&Load"));
    AddCommand(load, "From &Comm Port", ID_FILE_LOAD_COMM, [this] { m_transfers.OnLoadFromCommPort(); });
    AddCommand(load, "From &File", ID_FILE_LOAD_FILE, [this] { OnLoadFromFile(); });
    QMenu* save = file->addMenu(tr("Save"));
    AddCommand(save, "To &Comm Port", ID_FILE_SAVE_COMM, [this] { m_transfers.OnSaveToCommPort(); });
    AddCommand(save, "To &File", ID_FILE_SAVE_FILE, [this] { OnSaveToFile(); });
    AddCommand(file, "&Compare...", ID_FILE_COMPARE, [this] { OnCompare(); });
    file->addSeparator();
    AddCommand(file, "&Dump", ID_FILE_DUMP, [this] { OnDump(); });
    file->addSeparator();
    AddCommand(file, "E&xit", ID_FILE_EXIT, [this] { OnExit(); });

    QMenu* help = m_menuBar->addMenu(tr("&Help"));
    AddCommand(help, "&Contents", ID_HELP_CONTENTS, [this] { m_help.OnHelpContents(); });
    AddCommand(help, "&Search", ID_HELP_SEARCH, [this] { m_help.OnHelpSearch(); });
    help->addSeparator();
    AddCommand(help, "&On the web", ID_HELP_WEB, [this] { m_help.OnWebSite(); });
    help->addSeparator();
    AddCommand(help, "&About", ID_HELP_ABOUT, [this] { OnAbout(); });

    // A submenu is known by its position in its menu, as the prompts have
    // always looked them up.
    load->menuAction()->setData(0u);
    save->menuAction()->setData(1u);
    file->menuAction()->setData(0u);
    help->menuAction()->setData(1u);
    for (QMenu* menu : {file, load, save, help}) WatchMenu(menu);
    // A pass of the mouse over the bar selects nothing: only with a menu
    // open does a highlighted title count.
    connect(m_menuBar, &QMenuBar::hovered, this, [this](QAction* action) {
        if (QApplication::activePopupWidget()) OnMenuSelect(action->data().toUInt());
    });

    // Until the first notification only loading a file, Exit and Help work.
    for (unsigned id : {ID_FILE_LOAD_COMM, ID_FILE_SAVE_COMM, ID_FILE_SAVE_FILE, ID_FILE_COMPARE, ID_FILE_DUMP})
        EnableMenuCommand(id, false);
}

QAction* CClockPropSheet::AddCommand(QMenu* menu, const char* text, unsigned id, std::function<void()> handler) {
    QAction* action = menu->addAction(QString::fromLatin1(text));
    action->setData(id);
    // While a command runs (its pauses paint the window) no other may start.
    connect(action, &QAction::triggered, this, [this, handler = std::move(handler)] {
        if (!m_busy) handler();
    });
    m_actions[id] = action;
    return action;
}

void CClockPropSheet::WatchMenu(QMenu* menu) {
    connect(menu, &QMenu::hovered, this, [this](QAction* action) {
        if (!action->isSeparator()) OnMenuSelect(action->data().toUInt());
    });
}

QAction* CClockPropSheet::GetMenuAction(unsigned id) const {
    const auto it = m_actions.find(id);
    return it == m_actions.end() ? nullptr : it->second;
}

bool CClockPropSheet::EnableMenuCommand(unsigned id, bool enable) {
    QAction* action = GetMenuAction(id);
    if (!action) return false;
    const bool previous = action->isEnabled();
    action->setEnabled(enable);
    return previous;
}

void CClockPropSheet::SetStatus(const std::string& text, const std::string& toolTip) {
    if (m_pFloatStatus) m_pFloatStatus->SetText(text, toolTip);
}

void CClockPropSheet::OnMenuSelect(unsigned id) {
    // 0: a separator or the first submenu; the line stays as it is.
    if (id == 0) return;
    std::string text;
    SetStatus(LoadString(id, text) ? FirstLine(text) : std::string());
}

void CClockPropSheet::OnExit() {
    // Like a posted quit: the window closes once this command has returned.
    QMetaObject::invokeMethod(this, [this] { close(); }, Qt::QueuedConnection);
}
