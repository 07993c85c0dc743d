// A bare Qt window with four empty tabs, built as tarvel is: what the
// window's start is measured against (scripts/measure-window).
//   bare-tab-window [TITLE]
#include <QApplication>
#include <QTabWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTabWidget tabs;
    for (const char* name : {"Comm Port", "Clock Setup", "Location", "Console"})
        tabs.addTab(new QWidget, QString::fromLatin1(name));
    tabs.setWindowTitle(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("bare tab window"));
    tabs.show();
    return app.exec();
}
