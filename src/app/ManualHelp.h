// Help and the manual: the installed HTML manual in the desktop's browser,
// or the copy built into the program in a window of its own, and the web
// site. Messages go to the window's box.
#pragma once

#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>
#include <string>

class QDialog;
class QTextBrowser;
class QWidget;

class CManualHelp {
public:
    using MessageSink = std::function<void(const std::string& text)>;
    // owner: the window the manual's own window belongs to.
    CManualHelp(QWidget* owner, MessageSink showMessage);

    // Help > Contents and Help > Search (the manual's index).
    void OnHelpContents() { OpenManual(QString()); }
    void OnHelpSearch() { OpenManual(QStringLiteral("index")); }
    // Help > On the web: nothing is reported when no browser takes it.
    void OnWebSite();

    // The manual's start page as a file: next to the installed program, else
    // where a build-tree run or a test names it. Empty when there is none.
    static QString FindManual();
    // Where the installed manual's start page belongs (for the message when
    // it is missing).
    static QString InstalledManualPath();
    // The copy of the manual built into the program.
    static const char* const kBuiltInManual;
    static const char* const kWebAddress;
    // Hands an address to the desktop; false when nothing took it. Tests
    // replace it; an empty opener restores the desktop's.
    using UrlOpener = std::function<bool(const QUrl&)>;
    static void SetUrlOpener(UrlOpener opener);

    // The built-in manual's browser while its window is open, else null.
    QTextBrowser* GetBrowser() const;

private:
    void OpenManual(const QString& fragment);
    bool ShowBuiltInManual(const QString& fragment);
    // The installed manual in the desktop's browser; false (told) if none took it.
    bool OpenInBrowser(const QString& manual, const QString& fragment);
    // Whether the desktop has a program for web pages; true when it cannot
    // be told in time.
    static bool HasHtmlHandler();

    QWidget* m_owner;
    MessageSink m_showMessage;
    QPointer<QDialog> m_dialog;
};
