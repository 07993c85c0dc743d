// The application: derives the program name, runs the main window once and
// ends. No single-instance check: several copies may run side by side.
#pragma once

#include <QApplication>
#include <QIcon>
#include <QString>

class CClockPropSheet;

class CTarvelApp {
public:
    // Takes the program name from argv[0] and makes the QApplication with it.
    CTarvelApp(int& argc, char** argv);
    ~CTarvelApp();

    // Builds the main window, runs it modally and destroys it; the exit code.
    int Run();

    static QIcon GetIcon();

    // What the command line asks for once Qt took its own options: a setup
    // file to open at start (empty for none). False, with the reason, on an
    // unknown option or more than one file.
    static bool ParseArgs(const QStringList& args, QString& file, QString& error);
    // Loads file into the sheet as soon as its window runs.
    static void OpenAtStart(CClockPropSheet& sheet, const QString& file);

private:
    QApplication m_app;
};
