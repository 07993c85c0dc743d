// tarvelctl time watch against simulated clocks of known offset: its JSON
// lines as a reader takes them, its failures and its end by Ctrl-C.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>

#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "CtlRunner.h"
#include "SimClock.h"
#include "TestSupport.h"

namespace {

std::vector<nlohmann::json> JsonLines(const std::string& out) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line, nullptr, false));
    return lines;
}

class TimeWatch : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CCtlRunner::Available()) GTEST_SKIP() << "tarvelctl is not built";
        std::filesystem::create_directories(m_dir.File("config"));
        m_ctl.WriteProfile("[Communication]\n");
    }
    CTempDir m_dir;
    CCtlRunner m_ctl{m_dir.Path()};
};

TEST_F(TimeWatch, JsonGivesEachPollAsOneObjectALineWithTheTruthInside) {
    CSimClock sim;
    sim.SetTimeOffset(0.73);
    ASSERT_TRUE(sim.Start()) << sim.LastError();
    const TCtlResult r = m_ctl.Run({"--port", sim.DevicePath(), "time", "watch", "--for", "4", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<nlohmann::json> lines = JsonLines(r.out);
    ASSERT_GE(lines.size(), 3u) << r.out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const nlohmann::json& doc = lines[i];
        ASSERT_TRUE(doc.is_object()) << "line " << i << " of " << r.out;
        EXPECT_EQ(doc["version"], 1);
        EXPECT_EQ(doc["command"], "time watch");
        EXPECT_EQ(doc["polls"], i + 1) << doc;
        // The reply and its fields agree, as time get gives them.
        const nlohmann::json& utc = doc["utc"];
        EXPECT_EQ(doc["reply"].get<std::string>(),
                  std::to_string(utc["day_of_year"].get<int>()) + ":" + std::to_string(utc["hour"].get<int>()) + ":" +
                      std::to_string(utc["minute"].get<int>()) + ":" + std::to_string(utc["second"].get<int>()));
        EXPECT_TRUE(std::regex_match(doc["host_utc"].get<std::string>(),
                                     std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")))
            << doc;
        EXPECT_LE(std::fabs(doc["offset_seconds"].get<double>() - 0.73), doc["uncertainty_seconds"].get<double>())
            << doc;
    }
    EXPECT_LT(lines.back()["uncertainty_seconds"].get<double>(), lines.front()["uncertainty_seconds"].get<double>());
}

TEST_F(TimeWatch, AClockThatRefusesEndsItWithTheFailureObjectOnItsOwnLine) {
    CSimClock sim;
    TSimFaults faults;
    faults.answerQuestion = true;
    sim.SetFaults(faults);
    ASSERT_TRUE(sim.Start()) << sim.LastError();
    const TCtlResult r = m_ctl.Run({"--port", sim.DevicePath(), "time", "watch", "--for", "30", "--json"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("tarvelctl: time watch: the clock refused the command"), std::string::npos) << r.err;
    const std::vector<nlohmann::json> lines = JsonLines(r.out);
    ASSERT_EQ(lines.size(), 1u) << r.out;
    EXPECT_EQ(lines[0]["failure"], "refused") << r.out;
    EXPECT_EQ(lines[0]["command"], "time watch");

    // --for belongs to watch, and takes seconds as check and metrics do.
    for (const char* bad : {"0", "86401", "x", "0x10", " 5"})
        EXPECT_EQ(m_ctl.Run({"--port", sim.DevicePath(), "time", "watch", "--for", bad}).status, 2) << bad;
    EXPECT_EQ(m_ctl.Run({"--port", sim.DevicePath(), "time", "get", "--for", "5"}).status, 2);
}

TEST_F(TimeWatch, CtrlCAfterAPollEndsItCleanly) {
    CSimClock sim;
    std::mutex mutex;
    std::condition_variable asked;
    int times = 0;
    sim.SetCommandHandler([&](const std::string& command) {
        std::lock_guard lock(mutex);
        if (command == "TU") ++times;
        asked.notify_all();
    });
    ASSERT_TRUE(sim.Start()) << sim.LastError();
    const pid_t pid = m_ctl.Start({"--port", sim.DevicePath(), "time", "watch", "--for", "600"});
    {
        // The second ask starts only once the first was printed.
        std::unique_lock lock(mutex);
        ASSERT_TRUE(asked.wait_for(lock, std::chrono::seconds(60), [&] { return times >= 2; }));
    }
    ::kill(pid, SIGINT);
    const TCtlResult r = m_ctl.Finish(pid, 60000);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(^\d+:\d+:\d+:\d+  offset [+-]\d+\.\d{3} s \+- \d+\.\d{3} s  \(polls: 1\)\n)")))
        << r.out;
}

}  // namespace
