#include "TarvelApp.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QTabWidget>

#include <cstdio>
#include <cstring>

#include "ClockPropSheet.h"
#include "FloatStatus.h"
#include "MessageTarget.h"
#include "Profile.h"
#include "QtPromptHooks.h"
#include "Resource.h"

namespace {

// argv[0] first: the program name has to be known before the QApplication
// looks at it.
int& NameFromArgs(int& argc, char** argv) {
    if (argc > 0 && argv && argv[0]) SetProgramName(argv[0]);
    return argc;
}

}  // namespace

CTarvelApp::CTarvelApp(int& argc, char** argv) : m_app(NameFromArgs(argc, argv), argv) {
    QApplication::setApplicationName(QString::fromStdString(GetAppName()));
    QApplication::setWindowIcon(GetIcon());
}

CTarvelApp::~CTarvelApp() { CQtPromptHooks::Uninstall(); }

QIcon CTarvelApp::GetIcon() {
    QIcon icon;
    icon.addFile(QStringLiteral(":/tarvel/tarvel-32.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/tarvel/tarvel-64.png"), QSize(64, 64));
    icon.addFile(QStringLiteral(":/tarvel/tarvel-256.png"), QSize(256, 256));
    return icon;
}

int CTarvelApp::Run() {
    CQtPromptHooks::Install();

    const QStringList args = QApplication::arguments();
    const int shots = static_cast<int>(args.indexOf(QStringLiteral("--screenshots")));
    if (shots >= 0) {
        if (shots + 1 >= args.size()) {
            std::fprintf(stderr, "usage: %s --screenshots DIR\n", GetAppName().c_str());
            return 2;
        }
        return RenderScreenshots(args.at(shots + 1));
    }

    // The port may open here already; nobody hears of it until the window runs.
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    SetMainTarget(sheet.GetTarget());
    sheet.exec();
    SetMainTarget(nullptr);
    return 0;
}

int CTarvelApp::RenderScreenshots(const QString& dir) {
    if (!QDir().mkpath(dir)) {
        std::fprintf(stderr, "cannot create %s\n", dir.toLocal8Bit().constData());
        return 1;
    }
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    SetMainTarget(sheet.GetTarget());
    sheet.show();
    QTabWidget* tabs = sheet.GetTabs();
    const char* const names[] = {"comm-port", "clock-setup", "location", "console"};
    int failures = 0;
    for (int i = 0; i < tabs->count() && i < 4; ++i) {
        tabs->setCurrentIndex(i);
        QApplication::processEvents();
        // The main window with its status line under it, as the user sees them.
        const QPixmap window = sheet.grab();
        QPixmap status;
        if (CFloatStatus* floating = sheet.GetFloatStatus(); floating && !floating->IsDocked())
            status = floating->grab();
        QImage shot(window.width(), window.height() + status.height(), QImage::Format_ARGB32);
        shot.fill(Qt::white);
        QPainter painter(&shot);
        painter.drawPixmap(0, 0, window);
        if (!status.isNull()) painter.drawPixmap(0, window.height(), status);
        painter.end();
        const QString file = QDir(dir).filePath(QStringLiteral("%1-%2.png").arg(i + 1).arg(QLatin1String(names[i])));
        if (!shot.save(file)) {
            std::fprintf(stderr, "cannot write %s\n", file.toLocal8Bit().constData());
            ++failures;
        }
    }
    sheet.hide();
    SetMainTarget(nullptr);
    return failures ? 1 : 0;
}
