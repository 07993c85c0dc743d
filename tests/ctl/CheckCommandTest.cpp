// tarvelctl check, run as the built program against simulated clocks; its
// performance data read by the Monitoring Plugins' own Perl parser.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ClockFile.h"
#include "ClockState.h"
#include "CtlRunner.h"
#include "MonitoringRange.h"
#include "SetupDiff.h"
#include "SimClock.h"
#include "TestSupport.h"

namespace {

// The performance data as Monitoring::Plugin::Performance, which monitoring
// systems use, parses it: label, value, uom, warn, crit of each datum.
constexpr char kPerlParse[] =
    "perl -MMonitoring::Plugin::Performance -e '(undef, my $perf) = split /\\|/, <STDIN>, 2;"
    "for my $p (Monitoring::Plugin::Performance->parse_perfstring($perf // q{})) { my $t = $p->threshold;"
    " print join(q{|}, $p->label, $p->value, $p->uom, map { $_->is_set ? $_ : q{} } $t->warning, $t->critical), qq{\\n} }' < ";

class CheckCommand : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CCtlRunner::Available()) GTEST_SKIP() << "tarvelctl is not built";
        if (std::system("perl -MMonitoring::Plugin::Performance -e1 2>/dev/null") != 0)
            GTEST_SKIP() << "Monitoring::Plugin::Performance is missing (libmonitoring-plugin-perl)";
        // The stored model spares asking each clock for it.
        m_ctl.WriteProfile("[Communication]\nModel=K203\n");
    }

    std::string AddClock(double offset) {
        m_clocks.push_back(std::make_unique<CSimClock>());
        EXPECT_TRUE(m_clocks.back()->Start()) << m_clocks.back()->LastError();
        m_clocks.back()->SetTimeOffset(offset);
        return m_clocks.back()->DevicePath();
    }

    // check on ports with args, the port held (flock) the while when given.
    TCtlResult Check(const std::vector<std::string>& ports, const std::vector<std::string>& more,
                     const std::string& held = {}) {
        std::vector<std::string> args = {"check"};
        for (const auto& port : ports) args.insert(args.end(), {"--port", port});
        args.insert(args.end(), more.begin(), more.end());
        const int fd = held.empty() ? -1 : ::open(held.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        EXPECT_TRUE(held.empty() || ::flock(fd, LOCK_EX | LOCK_NB) == 0);
        const TCtlResult r = m_ctl.Run(args);
        if (fd >= 0) ::close(fd);
        return r;
    }

    // The one line on stdout, its performance data parsed.
    std::vector<std::vector<std::string>> Perf(const TCtlResult& r) {
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
        WriteWholeFile(m_dir.File("out"), r.out);
        std::vector<std::vector<std::string>> perf;
        FILE* pipe = ::popen((kPerlParse + m_dir.File("out")).c_str(), "r");
        char buf[512];
        while (pipe && std::fgets(buf, sizeof buf, pipe)) {
            std::istringstream line(buf);
            perf.emplace_back();
            for (std::string field; std::getline(line, field, '|');) perf.back().push_back(field);
            perf.back().back().pop_back();  // the line end
        }
        EXPECT_TRUE(pipe && ::pclose(pipe) == 0);
        return perf;
    }

    CTempDir m_dir;
    CCtlRunner m_ctl{m_dir.Path()};
    std::vector<std::unique_ptr<CSimClock>> m_clocks;
};

// The size of the offset against -w 1 -c 3: its sign does not matter.
TEST_F(CheckCommand, JudgesTheOffsetsSizeAgainstTheThresholds) {
    const struct {
        double offset;
        int status;
        const char* state;
    } rows[] = {{0, 0, "OK"}, {2, 1, "WARNING"}, {-2, 1, "WARNING"}, {5, 2, "CRITICAL"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.offset);
        const TCtlResult r = Check({AddClock(row.offset)}, {"-w", "1", "-c", "3", "--for", "2"});
        EXPECT_EQ(r.status, row.status) << r.out << r.err;
        EXPECT_EQ(r.out.rfind(std::string("TARVEL ") + row.state + " - offset ", 0), 0u) << r.out;
        const auto perf = Perf(r);
        ASSERT_EQ(perf.size(), 2u) << r.out;
        using V = std::vector<std::string>;
        EXPECT_EQ(V({perf[0][0], perf[0][2], perf[0][3], perf[0][4]}), V({"offset", "s", "1", "3"}));
        EXPECT_EQ(V({perf[1][0], perf[1][2]}), V({"uncertainty", "s"}));
        // The estimate holds the truth within what it claims (printed to the millisecond).
        EXPECT_LE(std::fabs(std::stod(perf[0][1]) - row.offset), std::stod(perf[1][1]) + 0.002) << r.out;
        m_clocks.clear();
    }
}

// Several ports: one line, each label carrying its port, the worst state winning.
TEST_F(CheckCommand, SeveralPortsGiveOneLineAndTheWorstState) {
    const struct {
        double first, second;
        bool secondHeld;
        int status;
        const char* state;
    } rows[] = {{0, 5, false, 2, "CRITICAL"}, {2, 0, true, 1, "WARNING"}, {0, 0, true, 3, "UNKNOWN"}};
    for (const auto& row : rows) {
        const std::string a = AddClock(row.first), b = AddClock(row.second);
        const TCtlResult r = Check({a, b}, {"-w", "1", "-c", "3", "--for", "2"}, row.secondHeld ? b : "");
        EXPECT_EQ(r.status, row.status) << r.out << r.err;
        EXPECT_EQ(r.out.rfind(std::string("TARVEL ") + row.state + " - ", 0), 0u) << r.out;
        std::vector<std::string> labels, expected = {a + " offset", a + " uncertainty"};
        for (const auto& p : Perf(r)) labels.push_back(p[0]);
        if (!row.secondHeld) expected.insert(expected.end(), {b + " offset", b + " uncertainty"});
        EXPECT_EQ(labels, expected) << r.out;
        m_clocks.clear();
    }
}

// Ten clocks take about the time of one: they are polled side by side.
TEST_F(CheckCommand, TenClocksAreCheckedSideBySide) {
    std::vector<std::string> ports;
    for (int i = 0; i < 10; ++i) ports.push_back(AddClock(i * 0.1));
    const auto start = std::chrono::steady_clock::now();
    const TCtlResult r = Check(ports, {"-w", "2", "-c", "3", "--for", "4"});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("check of 10 clocks: %.1f s\n", seconds);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Perf(r).size(), 20u) << r.out;
    // One after another they would take ten times --for.
    EXPECT_LT(seconds, 40) << r.out;
}

// What keeps the offset from being judged, and the state each gives.
TEST_F(CheckCommand, FailuresHaveTheirStateAndReason) {
    const std::string port = AddClock(0);
    TClockConfig declared = CSimClock::MakeFactorySetup();
    declared.backLight ^= 1;
    CClockState state;
    *state.GetConfig() = declared;
    SaveConfigFile(state, m_dir.File("declared.hcs"));
    const auto differs = DiffSetups(declared, CSimClock::MakeFactorySetup()).items;
    ASSERT_EQ(differs.size(), 1u);
    const struct {
        const char* what;
        std::vector<std::string> args;
        int status;
        std::string says;
    } rows[] = {
        {"setup", {"--setup", m_dir.File("declared.hcs")}, 2,
         "in 1 item(s): " + std::to_string(differs[0].item) + " " + differs[0].name + ";"},
        {"silent", {}, 2, "does not answer: no echo of byte 1"},
        {"held", {}, 3, "is held by " + std::string(::program_invocation_short_name).substr(0, 15) + " (pid " +
                            std::to_string(::getpid()) + ")"},
        {"bad range", {"-w", "5:1"}, 3, "TARVEL UNKNOWN - -w '5:1' is not a threshold range"},
        {"bad time", {"--for", "0"}, 3, "TARVEL UNKNOWN - --for"},
        {"bad option", {"--bogus"}, 3, "TARVEL UNKNOWN - unknown option --bogus"},
        {"no port", {"--port", ""}, 3, "no port to check"},
        {"bad rate", {"--baud", "1234"}, 3, "--baud 1234 is not one of"},
        {"bad model", {"--model", "K999"}, 3, "unknown model 'K999'"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TSimFaults faults;
        faults.noEcho = std::string(row.what) == "silent";
        m_clocks.back()->SetFaults(faults);
        std::vector<std::string> args = {"--for", "1"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const TCtlResult r = Check({port}, args, std::string(row.what) == "held" ? port : "");
        EXPECT_EQ(r.status, row.status) << r.out << r.err;
        EXPECT_NE(r.out.find(row.says), std::string::npos) << r.out;
        // An engine that merges stderr in reads the status line first, and alone.
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
        EXPECT_EQ(r.err, "");
    }
}

// The state of an offset known within +- an uncertainty is the worst any
// offset in that interval has, never the middle's alone.
TEST(MonitoringRange, TheStateIsTheWorstWithinTheUncertainty) {
    const struct {
        double offset, uncertainty;
        const char *warn, *crit;
        TPluginState state;
    } rows[] = {
        {0.7, 0.55, "0.5", "1", PLUGIN_CRITICAL},   // may be 1.25 off
        {0.7, 0.2, "0.5", "1", PLUGIN_WARNING},
        {0.3, 0.25, "0.5", "1", PLUGIN_WARNING},    // may be 0.55 off
        {0.3, 0.1, "0.5", "1", PLUGIN_OK},
        {-0.7, 0.35, "0.5", "1", PLUGIN_CRITICAL},  // the size, whatever the sign
        {0.1, 0.3, "0.5", "1", PLUGIN_OK},          // may be 0: the size runs 0..0.4
        {0.1, 0.05, "0.2:", "~:5", PLUGIN_WARNING}, // a lower bound alerts too
        {0.4, 0.1, "@0.3:0.35", "9", PLUGIN_WARNING},
        {0.5, 0.1, "@0.1:0.35", "9", PLUGIN_OK},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.offset << " +- " << row.uncertainty << " -w " << row.warn << " -c " << row.crit);
        TAlertRange warn, crit;
        std::string error;
        ASSERT_TRUE(ParseAlertRange(row.warn, warn, error) && ParseAlertRange(row.crit, crit, error));
        EXPECT_EQ(OffsetState(row.offset, row.uncertainty, warn, crit), row.state);
    }
    // Thresholds go into the performance data as the plugins write them.
    for (const auto& [given, normal] : std::vector<std::pair<const char*, const char*>>{
             {" 1", "1"}, {"0x1p-1", "0.5"}, {"~:1.50", "~:1.5"}, {"@0.1:0.2", "@0.1:0.2"}, {"10:", "10:"}, {"-1:+2", "-1:2"}}) {
        TAlertRange range;
        std::string error;
        ASSERT_TRUE(ParseAlertRange(given, range, error)) << given;
        EXPECT_EQ(range.Normalised(), normal) << given;
    }
}

// The plugins' range syntax: which values alert, and what is no range.
TEST(MonitoringRange, AlertsOutsideOrInsideAsWritten) {
    const struct {
        const char* text;
        bool valid;
        std::vector<std::pair<double, bool>> alerts;  // value, alerts
    } rows[] = {
        {"10", true, {{-0.1, true}, {0, false}, {10, false}, {10.1, true}}},
        {"10:", true, {{9.9, true}, {10, false}, {1e9, false}}},
        {"~:10", true, {{-1e9, false}, {10, false}, {10.5, true}}},
        {"10:20", true, {{9.9, true}, {15, false}, {20.1, true}}},
        {"@10:20", true, {{9.9, false}, {10, true}, {20, true}, {20.1, false}}},
        {"-1.5:0.5", true, {{-1.6, true}, {-1.5, false}, {0.6, true}}},
        {"", false, {}},
        {"abc", false, {}},
        {"20:10", false, {}},
        {"1:2:3", false, {}},
        {"~", false, {}},
        {"@", false, {}},
        {"nan", false, {}},
        {"1e999", false, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        TAlertRange range;
        std::string error;
        EXPECT_EQ(ParseAlertRange(row.text, range, error), row.valid);
        EXPECT_EQ(error.empty(), row.valid);
        for (const auto& [value, alerts] : row.alerts) EXPECT_EQ(range.Alerts(value), alerts) << value;
    }
}

}  // namespace
