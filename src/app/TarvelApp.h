// The application: derives the program name, runs the main window once and
// ends. No single-instance check: several copies may run side by side.
#pragma once

#include <QApplication>
#include <QIcon>
#include <QString>

class CTarvelApp {
public:
    // Takes the program name from argv[0] and makes the QApplication with it.
    CTarvelApp(int& argc, char** argv);
    ~CTarvelApp();

    // Builds the main window, runs it modally and destroys it; the exit code.
    // With "--screenshots DIR" it renders every page into DIR instead.
    int Run();

    static QIcon GetIcon();

private:
    int RenderScreenshots(const QString& dir);

    QApplication m_app;
};
