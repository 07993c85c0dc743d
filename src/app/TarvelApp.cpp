#include "TarvelApp.h"

#include <QTimer>

#include <cstdio>

#include "ClockPropSheet.h"
#include "Profile.h"
#include "QtWaitHooks.h"
#include "Resource.h"

// The icons live in the static library's resource, which the linker drops
// unless it is asked for by name. Outside any namespace, as Qt requires.
static void InitTarvelResource() { Q_INIT_RESOURCE(tarvel); }

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

CTarvelApp::~CTarvelApp() { CQtWaitHooks::Uninstall(); }

QIcon CTarvelApp::GetIcon() {
    static const bool initialised = (InitTarvelResource(), true);
    (void)initialised;
    QIcon icon;
    icon.addFile(QStringLiteral(":/tarvel/tarvel-32.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/tarvel/tarvel-64.png"), QSize(64, 64));
    icon.addFile(QStringLiteral(":/tarvel/tarvel-256.png"), QSize(256, 256));
    return icon;
}

int CTarvelApp::Run() {
    CQtWaitHooks::Install();

    const QStringList args = QApplication::arguments();
    QString file;
    QString error;
    if (!ParseArgs(args, file, error)) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", GetAppName().c_str(), error.toLocal8Bit().constData(),
                     GetAppName().c_str());
        return 2;
    }

    // The port may open here already; nobody hears of it until the window runs.
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    if (!file.isEmpty()) OpenAtStart(sheet, file);
    sheet.exec();
    return 0;
}

bool CTarvelApp::ParseArgs(const QStringList& args, QString& file, QString& error) {
    file.clear();
    bool optionsEnded = false;
    for (int i = 1; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (!optionsEnded && arg == QStringLiteral("--")) {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && arg.size() > 1 && arg.startsWith(QLatin1Char('-'))) {
            error = QStringLiteral("unknown option %1").arg(arg);
            return false;
        }
        if (!file.isEmpty()) {
            error = QStringLiteral("one setup file at a time");
            return false;
        }
        file = arg;
    }
    return true;
}

void CTarvelApp::OpenAtStart(CClockPropSheet& sheet, const QString& file) {
    // Once the window shows, so a refused file's message has a window to belong to.
    QTimer::singleShot(0, &sheet, [&sheet, file] { sheet.LoadFromFile(file); });
}
