// Runs the built tarvelctl as a user would and checks its output, files and
// exit codes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "ClockState.h"
#include "CtlRunner.h"
#include "HexCodec.h"
#include "SetupItems.h"
#include "TestSupport.h"

namespace {

using TRun = TCtlResult;

class TarvelCtl : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CCtlRunner::Available()) GTEST_SKIP() << "tarvelctl is not built";
    }

    TRun Run(const std::vector<std::string>& args) { return m_ctl.Run(args); }
    std::string File(const std::string& name) { return m_dir.File(name); }

    // A fresh setup file made by the tool itself.
    std::string NewFile(const std::string& name) {
        const std::string path = File(name);
        EXPECT_EQ(Run({"new", path}).status, 0);
        return path;
    }

    CTempDir m_dir;
    CCtlRunner m_ctl{m_dir.Path()};
};

std::string ZeroFile() {
    return std::string("\x01\0\0\0", 4) + std::string("Halvern Clock State\0", 20) + std::string(130, '\0');
}

}  // namespace

TEST_F(TarvelCtl, NewWritesAFreshSetupAndKeepsAnExistingOne) {
    const std::string path = NewFile("a.hcs");
    EXPECT_EQ(ReadWholeFile(path), ZeroFile());
    WriteWholeFile(path, "precious");
    TRun r = Run({"new", path});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("exists"), std::string::npos);
    EXPECT_EQ(ReadWholeFile(path), "precious");
    EXPECT_EQ(Run({"new", "--force", path}).status, 0);
    EXPECT_EQ(ReadWholeFile(path), ZeroFile());
}

TEST_F(TarvelCtl, SetAndGetByTextIndexAndNumber) {
    const std::string path = NewFile("a.hcs");
    TRun r = Run({"set", path, "3=9600", "6=EVEN", "5=2", "9=1", "13=-45", "56=west", "37=60000", "11=2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string bytes = ReadWholeFile(path);
    ASSERT_EQ(bytes.size(), 154u);
    const std::string record = bytes.substr(24);
    EXPECT_EQ(record[0x02], 3);   // "9600" is the fourth baud rate
    EXPECT_EQ(record[0x05], 1);   // "Even"
    EXPECT_EQ(record[0x04], 1);   // the text "2" (two stop bits), not index 2
    EXPECT_EQ(record[0x08], 0);   // the text "1": one stop bit
    EXPECT_EQ(record.substr(0x0C, 2), "\xFF\xE2");
    EXPECT_EQ(record[0x52], 'W');
    EXPECT_EQ(record.substr(0x2C, 2), "\xEA\x60");
    EXPECT_EQ(static_cast<unsigned char>(record[0x0A]), 255);  // index 2 of "Off", "Auto", "On"

    r = Run({"get", path, "3", "6", "5", "13", "56", "37", "11", "18"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "9600\nEven\n2\n-30\nWest\n60000\nOn\n0\n");
}

TEST_F(TarvelCtl, RefusedAssignmentLeavesTheFileByteIdentical) {
    const std::string path = NewFile("a.hcs");
    ASSERT_EQ(Run({"set", path, "18=100"}).status, 0);
    const std::string before = ReadWholeFile(path);

    // The first assignment is fine; the second is refused, so neither is kept.
    TRun r = Run({"set", path, "3=9600", "13=721"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tarvelctl: Input Error!  The valid range is -720 to 720.\n");
    EXPECT_EQ(ReadWholeFile(path), before);

    for (const char* bad : {"17=90", "6=sometimes", "18=ten", "18=99999999999", "0=1", "90=1"}) {
        r = Run({"set", path, "3=9600", bad});
        EXPECT_EQ(r.status, 1) << bad;
        EXPECT_NE(r.err, "") << bad;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << bad << ": one line expected";
        EXPECT_EQ(ReadWholeFile(path), before) << bad;
    }
    r = Run({"set", path, "6=sometimes"});
    EXPECT_NE(r.err.find("\"No Parity\", \"Even\", \"Odd\""), std::string::npos) << r.err;
    // A number a choice item does not take lists the choices, as a wrong text does.
    r = Run({"set", path, "3=12345"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tarvelctl: item 3: '12345' is not one of \"1200\", \"2400\", \"4800\", \"9600\", "
                     "\"19200\" nor a number from 0 to 4\n");
    r = Run({"set", path, "1=1"});
    EXPECT_NE(r.err.find("\"Model A\", \"Model B\", \"Model C\" nor a number from 65 to 67"), std::string::npos)
        << r.err;
    EXPECT_EQ(ReadWholeFile(path), before);
    EXPECT_EQ(Run({"get", path, "18"}).out, "100\n");
}

TEST_F(TarvelCtl, EveryChoiceOfEveryChoiceItemRoundTripsThroughGetAndSet) {
    const std::string path = NewFile("a.hcs");
    // Round k sets every choice item that has a k-th choice to it by its
    // text, reads them all back, and sets what get printed: the file stays.
    std::vector<std::pair<int, std::vector<std::string>>> items;
    std::size_t rounds = 0;
    for (int item = 1; item < ITEM_COUNT; ++item) {
        std::vector<std::string> choices;
        if (!GetChoiceList(item, choices)) continue;
        rounds = std::max(rounds, choices.size());
        items.emplace_back(item, choices);
    }
    ASSERT_EQ(items.size(), 36u);  // 53 with choices, less 17 with only the placeholder
    for (std::size_t k = 0; k < rounds; ++k) {
        std::vector<std::string> set = {"set", path}, get = {"get", path};
        std::string expected;
        for (const auto& [item, choices] : items) {
            if (k >= choices.size()) continue;
            set.push_back(std::to_string(item) + "=" + choices[k]);
            get.push_back(std::to_string(item));
            expected += choices[k] + "\n";
        }
        TRun r = Run(set);
        ASSERT_EQ(r.status, 0) << "round " << k << ": " << r.err;
        const std::string stored = ReadWholeFile(path);
        r = Run(get);
        ASSERT_EQ(r.status, 0) << "round " << k << ": " << r.err;
        EXPECT_EQ(r.out, expected) << "round " << k;

        std::vector<std::string> again = {"set", path};
        std::istringstream lines(r.out);
        std::string value;
        for (std::size_t i = 2; i < get.size() && std::getline(lines, value); ++i)
            again.push_back(get[i] + "=" + value);
        ASSERT_EQ(Run(again).status, 0) << "round " << k;
        EXPECT_EQ(ReadWholeFile(path), stored) << "round " << k;
        // The model keeps its letter in the record.
        if (k < 3) {
            EXPECT_EQ(stored[24], 'A' + static_cast<int>(k));
        }
    }

    // The model also takes its letter alone, in any case.
    ASSERT_EQ(Run({"set", path, "1=b"}).status, 0);
    EXPECT_EQ(ReadWholeFile(path)[24], 'B');
    EXPECT_EQ(Run({"get", path, "1"}).out, "Model B\n");
    EXPECT_EQ(Run({"set", path, "1=D"}).status, 1);
    EXPECT_EQ(Run({"get", path, "1"}).out, "Model B\n");
}

TEST_F(TarvelCtl, DumpAndHexGiveTheCoreBytes) {
    const std::string path = NewFile("a.hcs");
    ASSERT_EQ(Run({"set", path, "18=100", "13=-60", "50=1999", "56=3"}).status, 0);
    CClockState state;
    {
        std::istringstream in(ReadWholeFile(path));
        ASSERT_EQ(state.Serialize(in), TLoadResult::Loaded);
    }
    std::ostringstream dump;
    state.Dump(dump);

    TRun r = Run({"dump", path});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, dump.str());
    EXPECT_NE(r.out.find("\nCable Delay 100\n"), std::string::npos);
    EXPECT_NE(r.out.find("\nLocal Offset -60\n"), std::string::npos);
    EXPECT_NE(r.out.find("\nSTime\nYear 1999\n"), std::string::npos);
    EXPECT_NE(r.out.find("\nSurvey Longitude\nMSec 0\nSign 87\n"), std::string::npos);
    EXPECT_EQ(r.out.find('\r'), std::string::npos);

    EXPECT_EQ(Run({"dump", path, "-o", File("d.txt")}).status, 0);
    EXPECT_EQ(ReadWholeFile(File("d.txt")), dump.str());
    EXPECT_EQ(Run({"dump", "--output=-", path}).out, dump.str());

    r = Run({"hex", NewFile("zero.hcs")});
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(r.out.size(), RAW_TEXT_SIZE);
    EXPECT_EQ(r.out.substr(0, 45), ":10000000" + std::string(32, '0') + "F0\r\n");
    EXPECT_EQ(r.out.substr(360), ":020080000000" "7E\r\n");
}

TEST_F(TarvelCtl, ShowListsGroupsWithLabelledValues) {
    const std::string path = NewFile("a.hcs");
    ASSERT_EQ(Run({"set", path, "3=19200", "13=120", "62=south"}).status, 0);
    TRun r = Run({"show", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find("Option Communication")),
              "Main Communication\n"
              "   3  Baud Rate 19200\n"
              "   4  Word Length 7\n"
              "   5  Stop Bits 1\n"
              "   6  Parity No Parity\n");
    EXPECT_NE(r.out.find("\n  13  Local Offset 120\n"), std::string::npos);
    EXPECT_NE(r.out.find("\n  62  Longitude Sign South\n"), std::string::npos);
    // A sign byte that is no sign letter has no value text.
    EXPECT_NE(r.out.find("\n  56  Longitude Sign (no value)\n"), std::string::npos);
    std::size_t groups = 0;
    for (std::size_t at = 0; (at = r.out.find('\n', at)) != std::string::npos; ++at)
        if (at + 1 < r.out.size() && r.out[at + 1] != ' ') ++groups;
    EXPECT_EQ(groups + 1, 8u);  // the first group starts the text
}

TEST_F(TarvelCtl, UnusableFilesFailWithOneLineReason) {
    TRun r = Run({"show", File("missing.hcs")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tarvelctl: Error Opening File! " + File("missing.hcs") + ": No such file or directory\n");

    WriteWholeFile(File("foreign.hcs"), std::string(200, 'x'));
    r = Run({"dump", File("foreign.hcs")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tarvelctl: " + File("foreign.hcs") + ": Unknown file type!\n");
    EXPECT_EQ(r.out, "");

    WriteWholeFile(File("short.hcs"), ZeroFile().substr(0, 100));
    r = Run({"set", File("short.hcs"), "18=5"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("tarvelctl: Error Opening File! ", 0), 0u) << r.err;
    EXPECT_EQ(ReadWholeFile(File("short.hcs")), ZeroFile().substr(0, 100));

    const std::string path = NewFile("a.hcs");
    r = Run({"dump", path, "-o", File("no/such/dir.txt")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("tarvelctl: Error Saving File! ", 0), 0u) << r.err;
}

TEST_F(TarvelCtl, UsageErrorsExitWithTwoAndHelpWithZero) {
    const std::string path = NewFile("a.hcs");
    // A bad --countdown is refused once, before the file, the backups or the
    // clock are read.
    const std::string countdown = "tarvelctl: --countdown takes whole seconds from 0 to 3600\n";
    const struct {
        std::vector<std::string> args;
        std::string errStart;  // empty: any complaint
    } usage[] = {
        {{}, ""},
        {{"frobnicate"}, ""},
        {{"show"}, ""},
        {{"show", path, path}, ""},
        {{"set", path}, ""},
        {{"set", path, "13"}, ""},
        {{"set", path, "x=1"}, ""},
        {{"get", path, "-3"}, ""},
        {{"dump", path, "-o"}, ""},
        {{"dump", path, "--bogus"}, ""},
        {{"--list", "ports"}, ""},
        {{"write", "missing.hcs", "--countdown", "soon"}, countdown},
        {{"restore", "--countdown", "3601"}, countdown},
        {{"restore", "missing.hcs", "--countdown", "-1"}, countdown},
        {{"metrics", "--port", "", "-o", "-"}, "tarvelctl: no clock to look at"},
        {{"metrics", "--port", "SIM", "--for", "0x10"}, "tarvelctl: --for takes seconds"},
    };
    for (const auto& row : usage) {
        TRun r = Run(row.args);
        EXPECT_EQ(r.status, 2) << (row.args.empty() ? "(none)" : row.args[0] + " " + row.args.back());
        EXPECT_NE(r.err, "");
        if (!row.errStart.empty()) {
            EXPECT_EQ(r.err.rfind(row.errStart, 0), 0u) << r.err;
        }
    }
    EXPECT_EQ(ReadWholeFile(path), ZeroFile());

    TRun r = Run({"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char* name : {"new", "dump", "hex", "show", "get", "set"}) {
        EXPECT_NE(r.out.find(std::string("\n  ") + name + " "), std::string::npos) << name;
        TRun h = Run({name, "--help"});
        EXPECT_EQ(h.status, 0) << name;
        EXPECT_EQ(h.out.rfind(std::string("Usage: tarvelctl ") + name + " ", 0), 0u) << h.out;
    }
}

TEST_F(TarvelCtl, ItemNumbersRunFromOneTo89) {
    const std::string path = NewFile("a.hcs");
    const struct {
        const char* item;
        int status;
    } rows[] = {{"0", 1}, {"1", 0}, {"89", 0}, {"90", 1}};
    for (const auto& row : rows) {
        const TRun r = Run({"get", path, row.item});
        EXPECT_EQ(r.status, row.status) << row.item << ": " << r.err;
        if (row.status != 0) {
            EXPECT_EQ(r.err, std::string("tarvelctl: no item ") + row.item + " (items are numbered 1 to 89)\n");
        }
    }
}

TEST_F(TarvelCtl, ImportTakesTextThatBeginsWithAByteOrderMark) {
    const std::string path = NewFile("a.hcs");
    ASSERT_EQ(Run({"set", path, "3=19200", "18=100"}).status, 0);
    const TRun exported = Run({"export", path});
    ASSERT_EQ(exported.status, 0) << exported.err;
    WriteWholeFile(File("bom.txt"), "\xEF\xBB\xBF" + exported.out);
    const TRun r = Run({"import", File("bom.txt"), "-o", File("b.hcs")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadWholeFile(File("b.hcs")), ReadWholeFile(path));
}

TEST_F(TarvelCtl, ShowDashReadsStandardInput) {
    const std::string path = NewFile("a.hcs");
    ASSERT_EQ(Run({"set", path, "3=19200"}).status, 0);
    const std::string shown = Run({"show", path}).out;
    m_ctl.SetStdin(path);
    const TRun r = Run({"show", "-"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, shown);
    EXPECT_NE(r.out.find("19200"), std::string::npos);
    // What is no setup is refused as a file would be.
    m_ctl.SetStdin("/dev/null");
    EXPECT_NE(Run({"show", "-"}).status, 0);
}

// A trace naming a file the command reads or writes would empty it before
// it is read: refused before anything is opened, the file left as it was.
TEST_F(TarvelCtl, ATraceOnAFileTheCommandUsesIsRefused) {
    const std::string setup = NewFile("s.hcs");
    const std::string link = File("link.hcs");
    ASSERT_EQ(symlink(setup.c_str(), link.c_str()), 0);
    const std::string fresh = File("fresh.hcs");
    const std::vector<std::vector<std::string>> kCases = {
        {"--port", File("no-such-tty"), "write", setup, "--trace", setup},
        {"diff", setup, setup, "--trace", setup},
        {"--trace", link, "show", setup},
        {"--port", File("no-such-tty"), "read", "-o", fresh, "--trace", fresh},
    };
    for (const auto& args : kCases) {
        const TRun r = Run(args);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find("which this command reads or writes"), std::string::npos) << r.err;
        EXPECT_EQ(ReadWholeFile(setup), ZeroFile());
        EXPECT_NE(access(fresh.c_str(), F_OK), 0);
    }
}

// Text from files, port names and the backups folder reaches the terminal
// with its control bytes shown, never acted on: a crafted value cannot
// retitle or clear the user's terminal.
TEST_F(TarvelCtl, ControlBytesFromOutsideAreShownNotSent) {
    const std::string setup = NewFile("a.hcs");
    const TRun exported = Run({"export", setup});
    ASSERT_EQ(exported.status, 0) << exported.err;
    std::string text = exported.out;
    const std::size_t at = text.find("\n3 = ");
    ASSERT_NE(at, std::string::npos) << text;
    text.replace(at + 5, text.find('\n', at + 1) - at - 5, "96\x1B]0;\xC3\xA9t\xC2\x9B\x07" "00");
    WriteWholeFile(File("bad.txt"), text);

    const std::string backups = File("data/tarvel/backups");
    std::filesystem::create_directories(backups);
    WriteWholeFile(backups + "/_dev_tty%1B%5B2J@K203@20250301T101502.123Z.hcs", ReadWholeFile(setup));
    const std::string tty = File("tty\x1B[2J");

    struct TCase {
        std::vector<std::string> args;
        bool onStdout;
        std::string shown;
    };
    const TCase kCases[] = {
        {{"import", File("bad.txt"), "-o", File("b.hcs")}, false, "\"96\\x1B]0;\xC3\xA9t\\xC2\\x9B\\x0700\""},
        {{"--port", tty, "read", "-o", File("c.hcs")}, false, "opening port " + File("tty\\x1B[2J") + " failed"},
        {{"time", "get", "--port", tty, "--port", File("b\a")}, false, File("b\\x07") + ": tarvelctl: "},
        {{"check", "--port", tty}, true, "the clock on " + File("tty\\x1B[2J") + " does not answer"},
        {{"backups"}, true, "  /dev/tty\\x1B[2J  K203  "},
    };
    // Line ends and tabs between fields are the output's own; UTF-8 text
    // stays, but for the C1 controls.
    auto raw = [](const std::string& s) {
        for (std::size_t i = 0; i < s.size(); ++i) {
            const unsigned char u = static_cast<unsigned char>(s[i]);
            if ((u < 0x20 && u != '\n' && u != '\t') || u == 0x7F) return true;
            if (u == 0xC2 && i + 1 < s.size() && (static_cast<unsigned char>(s[i + 1]) & 0xE0) == 0x80) return true;
        }
        return false;
    };
    for (const auto& c : kCases) {
        const TRun r = Run(c.args);
        EXPECT_NE((c.onStdout ? r.out : r.err).find(c.shown), std::string::npos) << c.args[0] << ": " << r.out << r.err;
        EXPECT_FALSE(raw(r.out)) << c.args[0] << ": " << r.out;
        EXPECT_FALSE(raw(r.err)) << c.args[0] << ": " << r.err;
    }
}
