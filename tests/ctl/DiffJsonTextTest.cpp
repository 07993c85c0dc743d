// tarvelctl diff, --json and export/import, run as the built program on
// setup files and on the simulated clock (--port SIM).
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "ClockFile.h"
#include "ClockOffset.h"
#include "ClockState.h"
#include "CtlRunner.h"
#include "SimClock.h"
#include "TestSupport.h"

using nlohmann::json;

namespace {

class DiffJsonText : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CCtlRunner::Available()) GTEST_SKIP() << "tarvelctl is not built";
    }
    std::string Save(const std::string& name, const TClockConfig& config) {
        CClockState state;
        *state.GetConfig() = config;
        SaveConfigFile(state, m_dir.File(name));
        return m_dir.File(name);
    }
    // The output parsed; a failure when it is not one JSON document.
    json Parse(const TCtlResult& r) {
        try {
            return json::parse(r.out);
        } catch (const json::exception& e) {
            ADD_FAILURE() << e.what() << "\n" << r.out;
            return {};
        }
    }
    CTempDir m_dir;
    CCtlRunner m_ctl{m_dir.Path()};
};

TEST_F(DiffJsonText, DiffListsChangedItemsWithDiffsExitStatus) {
    const TClockConfig factory = CSimClock::MakeFactorySetup();
    TClockConfig changed = factory;
    changed.mainBaud = 4;
    SetBE32(changed.cableDelay, 700);
    changed.irigTimeSelect |= 0x20;  // a bit no item holds
    const std::string a = Save("a.hcs", factory), a2 = Save("a2.hcs", factory), b = Save("b.hcs", changed);

    TCtlResult r = m_ctl.Run({"diff", a, a2});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    r = m_ctl.Run({"diff", a, b});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "  3  Baud Rate: 9600 -> 19200\n"
                     " 18  Cable Delay: 50 -> 700\n"
                     "     byte 30, bits no item holds: 0x00 -> 0x20\n");

    r = m_ctl.Run({"diff", "--json", a, b});
    EXPECT_EQ(r.status, 1) << r.err;
    const json j = Parse(r);
    EXPECT_EQ(j["version"], 1);
    EXPECT_EQ(j["command"], "diff");
    EXPECT_EQ(j["equal"], false);
    EXPECT_EQ(j["a"]["name"], a);
    ASSERT_EQ(j["differences"].size(), 2u);
    EXPECT_EQ(j["differences"][0], json::parse(R"({"number":3,"label":"Baud Rate","a":"9600","b":"19200","a_raw":3,"b_raw":4})"));
    EXPECT_EQ(j["other_bits"][0], json::parse(R"({"offset":30,"a":0,"b":32})"));

    // Trouble is 2, as diff(1) has it: a missing file, a file that is no setup.
    r = m_ctl.Run({"diff", a, m_dir.File("missing.hcs")});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("missing.hcs"), std::string::npos) << r.err;
    std::ofstream(m_dir.File("junk.hcs")) << "not a setup";
    EXPECT_EQ(m_ctl.Run({"diff", m_dir.File("junk.hcs"), a}).status, 2);
    EXPECT_EQ(m_ctl.Run({"diff", a}).status, 2);
}

TEST_F(DiffJsonText, DiffAndReadAgainstTheClock) {
    const std::string same = Save("factory.hcs", CSimClock::MakeFactorySetup());
    TClockConfig other = CSimClock::MakeFactorySetup();
    other.keyLock = 1;
    const std::string differs = Save("other.hcs", other);

    TCtlResult r = m_ctl.Run({"diff", "--port", "SIM", same});
    EXPECT_EQ(r.status, 0) << r.err << r.out;
    r = m_ctl.Run({"diff", differs, "--port", "SIM", "--json"});
    EXPECT_EQ(r.status, 1) << r.err;
    json j = Parse(r);
    EXPECT_EQ(j["a"], json::parse(R"({"source":"port","name":"SIM"})"));
    ASSERT_EQ(j["differences"].size(), 1u);
    EXPECT_EQ(j["differences"][0]["number"], 12);
    EXPECT_EQ(j["differences"][0]["b"], "Locked");

    r = m_ctl.Run({"read", "--port", "SIM", "-o", m_dir.File("read.hcs"), "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    j = Parse(r);
    EXPECT_EQ(j["command"], "read");
    EXPECT_EQ(j["port"], "SIM");
    EXPECT_EQ(j["file"], m_dir.File("read.hcs"));
    // What was printed is what was saved.
    r = m_ctl.Run({"show", "--json", m_dir.File("read.hcs")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Parse(r)["items"], j["items"]);

    r = m_ctl.Run({"time", "get", "--json", "--port", "SIM"});
    ASSERT_EQ(r.status, 0) << r.err;
    j = Parse(r);
    EXPECT_EQ(j["command"], "time get");
    const int day = j["utc"]["day_of_year"], hour = j["utc"]["hour"];
    EXPECT_GE(day, 1);
    EXPECT_LE(day, 366);
    EXPECT_LE(hour, 23);
    EXPECT_EQ(j["reply"], std::to_string(day) + ":" + std::to_string(hour) + ":" + std::to_string(int(j["utc"]["minute"])) +
                              ":" + std::to_string(int(j["utc"]["second"])));
}

TEST_F(DiffJsonText, TimeGetSaysHowFarTheClockIsFromTheHost) {
    using namespace std::chrono;
    const auto before = floor<milliseconds>(system_clock::now());
    const TCtlResult r = m_ctl.Run({"time", "get", "--json", "--port", "SIM"});
    const auto after = floor<milliseconds>(system_clock::now());
    ASSERT_EQ(r.status, 0) << r.err;
    const json j = Parse(r);
    ASSERT_TRUE(j["host_utc"].is_string()) << r.out;
    const std::string hostText = j["host_utc"];
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0, used = 0;
    ASSERT_EQ(std::sscanf(hostText.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3dZ%n", &y, &mo, &d, &h, &mi, &s, &ms, &used), 7)
        << hostText;
    EXPECT_EQ(used, 24) << hostText;
    const THostTime host = sys_days(year(y) / mo / d) + hours(h) + minutes(mi) + seconds(s) + milliseconds(ms);
    EXPECT_EQ(FormatUtcMillis(host), hostText);
    EXPECT_GE(host, before) << hostText;
    EXPECT_LE(host, after) << hostText;

    // The simulated clock keeps this machine's UTC, cut to whole seconds.
    ASSERT_TRUE(j["offset_seconds"].is_number()) << r.out;
    const double offset = j["offset_seconds"];
    EXPECT_LT(std::fabs(offset), 5.0) << r.out;
    EXPECT_NEAR(offset * 1000, std::round(offset * 1000), 1e-6) << "three decimals at most: " << offset;
    const TClockUtcFields utc{j["utc"]["day_of_year"], j["utc"]["hour"], j["utc"]["minute"], j["utc"]["second"]};
    const auto expected = ClockOffset(utc, host);
    ASSERT_TRUE(expected);
    EXPECT_DOUBLE_EQ(offset, static_cast<double>(expected->count()) / 1000.0);
}

TEST_F(DiffJsonText, ProbeAsJsonListsWhatTheTextDoes) {
    const TCtlResult text = m_ctl.Run({"probe", "--port", "SIM"});
    ASSERT_EQ(text.status, 0) << text.err;
    const TCtlResult r = m_ctl.Run({"probe", "--port", "SIM", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const json j = Parse(r);
    EXPECT_EQ(j["version"], 1);
    EXPECT_EQ(j["command"], "probe");
    ASSERT_TRUE(j["clocks"].is_array()) << r.out;
    ASSERT_EQ(j["clocks"].size(), 1u) << r.out;
    const json& clock = j["clocks"][0];
    EXPECT_EQ(clock["port"], "SIM");
    ASSERT_TRUE(clock["baud"].is_number_integer()) << r.out;
    EXPECT_EQ(clock["baud"], 9600);
    EXPECT_TRUE(clock["model"].is_string() || clock["model"].is_null()) << r.out;
    EXPECT_TRUE(clock["rom"].is_string() || clock["rom"].is_null()) << r.out;
    // Field for field the text line, "-" as null.
    std::vector<std::string> fields;
    std::istringstream line(text.out.substr(0, text.out.find('\n')));
    for (std::string field; std::getline(line, field, '\t');) fields.push_back(field);
    ASSERT_EQ(fields.size(), 4u) << text.out;
    EXPECT_EQ(fields[0], clock["port"]);
    EXPECT_EQ(fields[1], std::to_string(int(clock["baud"])));
    EXPECT_EQ(fields[2], clock["model"].is_null() ? "-" : std::string(clock["model"]));
    EXPECT_EQ(fields[3], clock["rom"].is_null() ? "-" : std::string(clock["rom"]));

    // Nothing found, or a wrong command line: the status as ever, nothing on stdout.
    TCtlResult none = m_ctl.Run({"probe", "--port", m_dir.File("no-such-tty"), "--json"});
    EXPECT_EQ(none.status, 1) << none.err;
    EXPECT_EQ(none.out, "");
    EXPECT_NE(none.err.find("no clock answered on " + m_dir.File("no-such-tty")), std::string::npos) << none.err;
    none = m_ctl.Run({"probe", "--json", "extra"});
    EXPECT_EQ(none.status, 2) << none.err;
    EXPECT_EQ(none.out, "");
}

TEST_F(DiffJsonText, ShowGetAndPortsAsJson) {
    TClockConfig c = CSimClock::MakeFactorySetup();
    c.mainBaud = 9;  // beyond the choices
    c.latSign = 0;   // not one of the sign letters: no text at all
    const std::string path = Save("s.hcs", c);
    TCtlResult r = m_ctl.Run({"show", "--json", path});
    ASSERT_EQ(r.status, 0) << r.err;
    json j = Parse(r);
    EXPECT_EQ(j["version"], 1);
    ASSERT_EQ(j["items"].size(), 89u);
    EXPECT_EQ(j["items"][2], json::parse(R"({"number":3,"label":"Baud Rate","group":"Main Communication","value":"Unexpected Value!","raw":9})"));
    EXPECT_EQ(j["items"][61]["number"], 62);
    EXPECT_EQ(j["items"][61]["value"], nullptr);
    EXPECT_EQ(j["items"][61]["raw"], 0);
    EXPECT_EQ(j["items"][0]["group"], nullptr);

    r = m_ctl.Run({"get", "--json", path, "56", "18"});
    ASSERT_EQ(r.status, 0) << r.err;
    j = Parse(r);
    ASSERT_EQ(j["items"].size(), 2u);
    EXPECT_EQ(j["items"][0]["value"], "West");
    EXPECT_EQ(j["items"][0]["raw"], 'W');
    EXPECT_EQ(j["items"][1]["value"], "50");

    r = m_ctl.Run({"ports", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    j = Parse(r);
    ASSERT_TRUE(j["ports"].is_array());
    ASSERT_FALSE(j["ports"].empty());
    EXPECT_EQ(j["ports"].back(), json::parse(R"({"name":"SIM","stable_name":null,"description":"simulated clock","present":true})"));
}

TEST_F(DiffJsonText, ExportImportRoundTripsRandomRecords) {
    std::mt19937 rng(2024);
    for (int i = 0; i < 8; ++i) {
        TClockConfig c;
        for (std::size_t k = 0; k < CLOCK_CONFIG_SIZE; ++k) ConfigBytes(c)[k] = static_cast<std::uint8_t>(rng());
        const std::string original = Save("r.hcs", c);
        TCtlResult r = m_ctl.Run({"export", original, "-o", m_dir.File("r.txt")});
        ASSERT_EQ(r.status, 0) << r.err;
        r = m_ctl.Run({"import", m_dir.File("r.txt"), "-o", m_dir.File("back.hcs")});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(ReadWholeFile(m_dir.File("back.hcs")), ReadWholeFile(original)) << "record " << i;
        // Standard output carries the same text.
        EXPECT_EQ(m_ctl.Run({"export", original}).out, ReadWholeFile(m_dir.File("r.txt")));
    }

    // An edited value reaches the file; a refused one names its line and
    // leaves the file as it was.
    std::string text = m_ctl.Run({"export", Save("f.hcs", CSimClock::MakeFactorySetup())}).out;
    const std::size_t at = text.find("\n12 = Unlocked\n");
    ASSERT_NE(at, std::string::npos) << text;
    text.replace(at, 14, "\n12 = locked");
    std::ofstream(m_dir.File("edit.txt")) << text;
    ASSERT_EQ(m_ctl.Run({"import", m_dir.File("edit.txt"), "-o", m_dir.File("e.hcs")}).status, 0);
    EXPECT_EQ(m_ctl.Run({"get", m_dir.File("e.hcs"), "12"}).out, "Locked\n");

    const int line = 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<long>(at) + 1, '\n'));
    text.replace(at, 12, "\n12 = sealed");
    std::ofstream(m_dir.File("bad.txt")) << text;
    const std::string before = FileDigest(m_dir.File("e.hcs"));
    const TCtlResult r = m_ctl.Run({"import", m_dir.File("bad.txt"), "-o", m_dir.File("e.hcs")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("bad.txt: line " + std::to_string(line) + ": item 12: \"sealed\""), std::string::npos) << r.err;
    EXPECT_EQ(FileDigest(m_dir.File("e.hcs")), before);
}

}  // namespace
