// Measures the Console page's processor time per KB received at the pace of
// a 9600-baud line (960 characters a second, in small blocks), with and
// without line ends, on a fresh page and on one that has already taken an
// hour of text. Each block comes as the port's reader thread hands it over:
// from a thread of its own, its byte count for the status line and then its
// bytes, each through the window's port adapter. The real program under X is
// measured by scripts/measure-window.
//
//   console-measure [seconds per run (10)]
//
// Runs on whatever Qt platform is set (QT_QPA_PLATFORM=offscreen without a
// display); the window is shown so that every block is also painted.
#include <stdlib.h>
#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QTabWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "ClockPropSheet.h"
#include "ConsoleDlg.h"
#include "Messages.h"
#include "PortEvents.h"
#include "Profile.h"
#include "QtWaitHooks.h"
#include "Resource.h"

namespace {

constexpr int kBytesPerSecond = 960;  // 9600 baud, 10 bits a character
constexpr int kBlockMs = 20;          // how often a block arrives
constexpr int kBytesPerBlock = kBytesPerSecond * kBlockMs / 1000;

double ProcessCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

long RssKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

// A broadcast line as a clock sends it once a second, or the same text
// without its line end.
class CSource {
public:
    explicit CSource(bool lineEnds) : m_lineEnds(lineEnds) {}
    std::string Next(std::size_t count) {
        std::string out;
        while (out.size() < count) {
            if (m_line.empty()) {
                char text[96];
                std::snprintf(text, sizeof text, "%03d:%02d:%02d:%02d Q=5 SATS=07 LAT=+4738.123 LON=-12219.456%s",
                              m_n % 366, (m_n / 3600) % 24, (m_n / 60) % 60, m_n % 60, m_lineEnds ? "\r\n" : " ");
                m_line = text;
                ++m_n;
            }
            const std::size_t take = std::min(count - out.size(), m_line.size());
            out += m_line.substr(0, take);
            m_line.erase(0, take);
        }
        return out;
    }

private:
    bool m_lineEnds;
    int m_n = 0;
    std::string m_line;
};

void Feed(CConsoleDlg& page, const std::string& bytes) {
    page.OnReceivedData(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

struct TResult {
    double cpuMsPerKb;
    double worstBlockMs;
    long rssKb;
    int characters;
};

TResult Run(CClockPropSheet& sheet, bool lineEnds, bool afterAnHour, int seconds) {
    // The page as a user meets it: the window's Console tab.
    CConsoleDlg& page = *sheet.findChild<CConsoleDlg*>();
    page.GetOutput()->clear();
    CSource source(lineEnds);
    if (afterAnHour) {
        // An hour at 9600 baud, handed over as fast as the page takes it.
        const std::size_t hour = static_cast<std::size_t>(kBytesPerSecond) * 3600;
        for (std::size_t done = 0; done < hour; done += 4096) Feed(page, source.Next(4096));
        QApplication::processEvents();
    }
    CPortEvents& events = *sheet.GetEvents();
    QEventLoop loop;
    const int blocks = seconds * 1000 / kBlockMs;
    double worst = 0;
    const double start = ProcessCpuMs();
    // The reader: each report waits until the window has handled it.
    std::thread reader([&] {
        auto next = std::chrono::steady_clock::now();
        for (int i = 0; i < blocks; ++i) {
            next += std::chrono::milliseconds(kBlockMs);
            std::this_thread::sleep_until(next);
            const std::string bytes = source.Next(kBytesPerBlock);
            QElapsedTimer block;
            block.start();
            events.Send(WM_COMMSTATUS, 1, static_cast<std::intptr_t>(bytes.size()));
            events.Send(WM_COMMDATA, bytes.size(), reinterpret_cast<std::intptr_t>(bytes.data()));
            worst = std::max(worst, static_cast<double>(block.nsecsElapsed()) / 1e6);
        }
        QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    loop.exec();
    reader.join();
    events.DeliverPending();        // the last batch, if still held
    QApplication::processEvents();  // the last paint
    const double cpu = ProcessCpuMs() - start;
    const double kb = static_cast<double>(blocks) * kBytesPerBlock / 1024.0;
    return {cpu / kb, worst, RssKb(), page.GetOutput()->document()->characterCount()};
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    // A profile of its own: no port is opened, nothing of the user's is touched.
    char dir[] = "/tmp/console-measure-XXXXXX";
    if (!::mkdtemp(dir)) return 1;
    SetProfilePath(std::string(dir) + "/tarvel.INI");
    WriteProfileInt("Communication", "AutoOpen", 0);

    QApplication app(argc, argv);
    CQtWaitHooks::Install();
    int status = 0;
    {
        CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
        sheet.show();
        sheet.findChild<QTabWidget*>()->setCurrentWidget(sheet.findChild<CConsoleDlg*>());
        QApplication::processEvents();
        if (!sheet.findChild<CConsoleDlg*>()->GetOutput()) {
            std::fprintf(stderr, "console-measure: the Console page did not set up\n");
            status = 1;
        } else {
            std::printf("Console page at 9600 baud (%d characters a second in %d-byte blocks), %d s a run\n",
                        kBytesPerSecond, kBytesPerBlock, seconds);
            std::printf("%-22s %-12s %14s %12s %16s %10s %12s\n", "text", "page", "CPU ms per KB", "% of a core",
                        "worst block ms", "RSS MB", "characters");
            for (const bool lineEnds : {true, false}) {
                for (const bool hour : {false, true}) {
                    const TResult r = Run(sheet, lineEnds, hour, seconds);
                    // CPU ms per KB times KB a second is ms a second; a tenth of it is percent.
                    const double core = r.cpuMsPerKb * kBytesPerSecond / 1024.0 / 10.0;
                    std::printf("%-22s %-12s %14.2f %12.2f %16.2f %10.1f %12d\n",
                                lineEnds ? "with line ends" : "without line ends",
                                hour ? "after 1 h" : "fresh", r.cpuMsPerKb, core, r.worstBlockMs,
                                static_cast<double>(r.rssKb) / 1024.0, r.characters);
                    std::fflush(stdout);
                }
            }
        }
        sheet.hide();
    }
    CQtWaitHooks::Uninstall();
    std::remove((std::string(dir) + "/tarvel.INI").c_str());
    ::rmdir(dir);
    return status;
}
