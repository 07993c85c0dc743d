// tarvelctl metrics as Prometheus sees it: node_exporter's textfile collector
// reads what it wrote, and its /metrics shows the simulated clocks' values.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ClockFile.h"
#include "ClockState.h"
#include "CtlRunner.h"
#include "OffsetPoll.h"
#include "SimClock.h"
#include "TestSupport.h"

namespace {

constexpr char kNodeExporter[] = "/usr/bin/prometheus-node-exporter";

struct TSample {
    std::map<std::string, std::string> labels;
    double value = 0;
};

// name -> its samples, from the text format; label values unescaped.
std::multimap<std::string, TSample> ParseExposition(const std::string& text) {
    std::multimap<std::string, TSample> samples;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::size_t at = line.find_first_of("{ ");
        const std::string name = line.substr(0, at);
        TSample s;
        if (at != std::string::npos && line[at] == '{') {
            while (line[++at] != '}') {
                const std::size_t eq = line.find("=\"", at);
                const std::string key = line.substr(at, eq - at);
                std::string value;
                for (at = eq + 2; line[at] != '"'; ++at)
                    value += line[at] == '\\' ? (line[++at] == 'n' ? '\n' : line[at]) : line[at];
                s.labels[key] = value;
                if (line[at + 1] == ',') ++at;
            }
        }
        s.value = std::stod(line.substr(at + 1));
        samples.emplace(name, s);
    }
    return samples;
}

const TSample* Find(const std::multimap<std::string, TSample>& samples, const std::string& name, const std::string& port) {
    for (auto [it, end] = samples.equal_range(name); it != end; ++it)
        if (it->second.labels.at("port") == port) return &it->second;
    return nullptr;
}
// The sample's value; NaN when there is none.
double Value(const std::multimap<std::string, TSample>& samples, const std::string& name, const std::string& port) {
    const TSample* sample = Find(samples, name, port);
    return sample ? sample->value : std::nan("");
}

// A loopback TCP socket, connected to port or (0) bound to a free one.
int Loopback(int& port) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    const bool ok = port ? ::connect(s, reinterpret_cast<sockaddr*>(&a), len) == 0
                         : ::bind(s, reinterpret_cast<sockaddr*>(&a), len) == 0 &&
                               ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0;
    port = ntohs(a.sin_port);
    if (!ok) ::close(s);
    return ok ? s : -1;
}

// The body of GET /metrics; empty when it could not be had.
std::string Scrape(int port) {
    const int s = Loopback(port);
    std::string reply;
    const std::string request = "GET /metrics HTTP/1.0\r\n\r\n";
    if (s >= 0 && ::write(s, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
        pollfd p{s, POLLIN, 0};
        char buffer[8192];
        for (ssize_t n = 1; n > 0 && ::poll(&p, 1, 30000) == 1;)
            if ((n = ::read(s, buffer, sizeof buffer)) > 0) reply.append(buffer, static_cast<std::size_t>(n));
    }
    if (s >= 0) ::close(s);
    const std::size_t body = reply.find("\r\n\r\n");
    const bool ok = reply.rfind("HTTP/1.", 0) == 0 && reply.find(" 200 ") < reply.find('\n');
    return ok && body != std::string::npos ? reply.substr(body + 4) : std::string();
}

// node_exporter on 127.0.0.1 with only the textfile collector, on folder.
class CNodeExporter {
public:
    CNodeExporter(const std::string& folder, const std::string& log) {
        for (int attempt = 0; attempt < 5 && !m_up; ++attempt) {
            m_port = 0;
            ::close(Loopback(m_port));
            if ((m_pid = ::fork()) == 0) {
                const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
                ::dup2(fd, 1);
                ::dup2(fd, 2);
                const std::string listen = "--web.listen-address=127.0.0.1:" + std::to_string(m_port);
                const std::string dir = "--collector.textfile.directory=" + folder;
                ::execl(kNodeExporter, kNodeExporter, listen.c_str(), "--collector.disable-defaults",
                        "--collector.textfile", dir.c_str(), static_cast<char*>(nullptr));
                ::_exit(127);
            }
            // Up once it answers; gone when another took the port first.
            for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
                 !m_up && std::chrono::steady_clock::now() < end && ::waitpid(m_pid, nullptr, WNOHANG) == 0;
                 std::this_thread::sleep_for(std::chrono::milliseconds(50)))
                m_up = !Scrape(m_port).empty();
        }
    }
    ~CNodeExporter() {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
    }
    bool Up() const { return m_up; }
    std::multimap<std::string, TSample> Samples() const { return ParseExposition(Scrape(m_port)); }

private:
    pid_t m_pid = -1;
    int m_port = 0;
    bool m_up = false;
};

class Metrics : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CCtlRunner::Available()) GTEST_SKIP() << "tarvelctl is not built";
        m_ctl.WriteProfile("[Communication]\n");
        ::mkdir(m_dir.File("etc").c_str(), 0755);
        ::mkdir(m_dir.File("textfile").c_str(), 0755);
    }
    void SaveSetup(const TClockConfig& config, const std::string& path) {
        CClockState state;
        *state.GetConfig() = config;
        SaveConfigFile(state, path);
    }

    CTempDir m_dir;
    CCtlRunner m_ctl{m_dir.Path()};
};

// Sets the clock whole seconds ahead of the host, just after a second has
// begun so that the truth is known to a few hundredths whether the clock
// counts from the whole second or from the moment it was set.
void SetAhead(CSimClock& clock, long seconds) {
    for (int tries = 0; tries < 100; ++tries) {
        const double now = HostSeconds();
        std::this_thread::sleep_for(std::chrono::duration<double>(std::ceil(now) - now));
        const double start = HostSeconds();
        clock.SetClockTime(static_cast<std::time_t>(std::floor(start)) + seconds);
        if (HostSeconds() - std::floor(start) < 0.05) return;
    }
    FAIL() << "could not set the clock near a second's start";
}

TEST_F(Metrics, NodeExporterShowsTheClocksOffsetSetupBusyPortAndLastSuccess) {
    if (::access(kNodeExporter, X_OK) != 0) GTEST_SKIP() << kNodeExporter << " is not installed (scripts/deps)";
    CSimClock ahead, behind, held;
    for (CSimClock* c : {&ahead, &behind, &held}) ASSERT_TRUE(c->Start()) << c->LastError();
    SetAhead(ahead, 7261);
    SetAhead(behind, -42);
    SaveSetup(ahead.GetEeprom(), m_dir.File("etc/ahead.hcs"));
    TClockConfig other = behind.GetEeprom();
    other.backLight ^= 1;
    SaveSetup(other, m_dir.File("etc/behind.hcs"));
    // Another program holds the third port, as a terminal program would.
    const int holder = ::open(held.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    // Two bad lines cost only themselves: the file is written, and counts them.
    WriteWholeFile(m_dir.File("etc/clocks.conf"), "# the clocks\n" + ahead.DevicePath() + "  ahead.hcs site=rack3\n\n" +
                                                      behind.DevicePath() + "\tbehind.hcs  # differs\n" +
                                                      held.DevicePath() + "\nSIM missing.hcs\nSIM2 a.hcs b.hcs\n");
    // Not UTF-8: node_exporter drops a whole file over one such byte.
    const std::string odd = m_dir.File("no \"such\" \\ port\nhere \xff");
    const std::vector<std::string> args = {"metrics", "--config", m_dir.File("etc/clocks.conf"), "--port", odd,
                                           "-o", m_dir.File("textfile/tarvel.prom"), "--for", "4"};
    TCtlResult r = m_ctl.Run(args);
    ASSERT_EQ(r.status, 0) << r.err;

    CNodeExporter exporter(m_dir.File("textfile"), m_dir.File("node-exporter.log"));
    ASSERT_TRUE(exporter.Up()) << ReadWholeFile(m_dir.File("node-exporter.log"));
    auto seen = exporter.Samples();
    ASSERT_EQ(seen.count("node_textfile_scrape_error"), 1u);
    EXPECT_EQ(seen.find("node_textfile_scrape_error")->second.value, 0) << ReadWholeFile(m_dir.File("node-exporter.log"));
    EXPECT_EQ(seen.find("tarvel_clock_list_errors")->second.value, 2);
    EXPECT_EQ(Value(seen, "tarvel_clock_up", "SIM"), 1);
    EXPECT_FALSE(Find(seen, "tarvel_clock_setup_matches", "SIM"));

    const struct {
        CSimClock* clock;
        long offset;
        double matches;
    } kClocks[] = {{&ahead, 7261, 1}, {&behind, -42, 0}};
    double lastSuccess[2] = {};
    for (int i = 0; i < 2; ++i) {
        const std::string port = kClocks[i].clock->DevicePath();
        SCOPED_TRACE(port);
        const auto up = Find(seen, "tarvel_clock_up", port);
        ASSERT_TRUE(up);
        EXPECT_EQ(up->value, 1);
        // node_exporter gives the lines without a site an empty one.
        std::map<std::string, std::string> labels{{"port", port}, {"site", i == 0 ? "rack3" : ""}};
        EXPECT_EQ(up->labels, labels);
        labels.insert({{"model", "K203"}, {"rom", "12 Mar 1998"}});
        EXPECT_EQ(Find(seen, "tarvel_clock_info", port)->labels, labels);
        const auto offset = Find(seen, "tarvel_clock_offset_seconds", port);
        const auto uncertainty = Find(seen, "tarvel_clock_offset_uncertainty_seconds", port);
        ASSERT_TRUE(offset && uncertainty);
        // The truth lies inside what the metrics claim, and the claim is narrower than a second.
        EXPECT_LE(std::fabs(offset->value - kClocks[i].offset), uncertainty->value + 0.05) << offset->value;
        EXPECT_LT(uncertainty->value, 1.0);
        EXPECT_EQ(Value(seen, "tarvel_clock_setup_matches", port), kClocks[i].matches);
        EXPECT_EQ(Value(seen, "tarvel_clock_port_busy", port), 0);
        lastSuccess[i] = Value(seen, "tarvel_clock_last_success_timestamp_seconds", port);
        EXPECT_NEAR(lastSuccess[i], HostSeconds(), 120);
    }
    // The held port was left alone; neither it nor the missing one has an offset or a success.
    for (const std::string& port : {held.DevicePath(), std::string(odd).replace(odd.size() - 1, 1, "\\xFF")}) {
        SCOPED_TRACE(port);
        EXPECT_EQ(Value(seen, "tarvel_clock_up", port), 0);
        EXPECT_EQ(Value(seen, "tarvel_clock_port_busy", port), port == held.DevicePath() ? 1 : 0);
        EXPECT_FALSE(Find(seen, "tarvel_clock_offset_seconds", port));
        EXPECT_FALSE(Find(seen, "tarvel_clock_setup_matches", port));
        EXPECT_FALSE(Find(seen, "tarvel_clock_last_success_timestamp_seconds", port));
    }
    EXPECT_TRUE(held.GetCommandLog().empty());

    // A clock gone silent keeps its last success and its labels.
    TSimFaults silent;
    silent.noEcho = true;
    ahead.SetFaults(silent);
    r = m_ctl.Run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(ahead.DevicePath() + ": "), std::string::npos) << r.err;
    seen = exporter.Samples();
    const auto up = Find(seen, "tarvel_clock_up", ahead.DevicePath());
    ASSERT_TRUE(up);
    EXPECT_EQ(up->value, 0);
    EXPECT_EQ(Find(seen, "tarvel_clock_info", ahead.DevicePath())->labels.at("rom"), "12 Mar 1998");
    EXPECT_EQ(Value(seen, "tarvel_clock_last_success_timestamp_seconds", ahead.DevicePath()), lastSuccess[0]);
    EXPECT_GT(Value(seen, "tarvel_clock_last_success_timestamp_seconds", behind.DevicePath()), lastSuccess[1]);
    ::close(holder);
}

// A bad line of the clock list is said with its number and counted, and
// costs only itself; a list that cannot be read leaves the file alone.
TEST_F(Metrics, BadClockListLinesAreSaidCountedAndLeftOut) {
    CSimClock clock;
    ASSERT_TRUE(clock.Start()) << clock.LastError();
    const std::string port = clock.DevicePath();
    const struct {
        std::string list;
        std::string said;
        bool looked;  // the clock is looked at all the same
    } kCases[] = {
        {port + " a.hcs b.hcs\n", "clocks.conf:1: give a port, then at most one setup file", false},
        {"# two\n\n" + port + "\n   " + port + "   # again\n", "clocks.conf:4: port " + port + " is already on line 3", true},
        {port + " missing.hcs\n", "clocks.conf:1: its setup file cannot be used", true},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.list);
        WriteWholeFile(m_dir.File("etc/clocks.conf"), c.list);
        const TCtlResult r = m_ctl.Run({"metrics", "--config", m_dir.File("etc/clocks.conf"), "--for", "1", "-o", "-"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_NE(r.out.find("\ntarvel_clock_list_errors 1\n"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("tarvel_clock_up{port=\"" + port + "\"} 1") != std::string::npos, c.looked) << r.out;
    }
    TCtlResult r = m_ctl.Run({"metrics", "--config", m_dir.File("etc/none.conf"), "-o", m_dir.File("t.prom")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(::access(m_dir.File("t.prom").c_str(), F_OK), 0);
    r = m_ctl.Run({"metrics", "--port", port, "--port", "SIM", "--setup", "a", "--setup", "b", "--setup", "c"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("give --setup once for every port, or once for each --port"), std::string::npos) << r.err;
}

}  // namespace
