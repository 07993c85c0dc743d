// tarvelctl diff: which setup items differ between two setups, each a setup
// file or the setup of the clock on a port. Exit status as diff(1) gives it.
#include <cstdio>
#include <string>
#include <vector>

#include "ClockFile.h"
#include "ClockState.h"
#include "CtlClockUi.h"
#include "CtlCommand.h"
#include "CtlJson.h"
#include "PortSession.h"
#include "Resource.h"
#include "SetupDiff.h"
#include "StringTable.h"
#include "TextUtil.h"

namespace {

constexpr int DIFF_EQUAL = 0;
constexpr int DIFF_DIFFERENT = 1;
constexpr int DIFF_TROUBLE = 2;  // a side could not be had: as diff(1), not as a refusal

struct TSide {
    std::string source;  // "file" or "port"
    std::string name;    // the path or the port
    TClockConfig config{};
};

bool LoadSide(TSide& side) {
    CClockState state;
    if (!LoadOrReport(state, side.name)) return false;
    side.config = *state.GetConfig();
    return true;
}

// Reads the clock's setup as read does; false (reported) on any trouble.
bool ReadSide(const CCommandLine& global, const CCommandLine& args, TSide& side) {
    CPortSession session;
    if (OpenCommandSession("diff", global, args, session, &side.name) != CTL_DONE) return false;
    if (const TClockResult read = session.State().Read(session.Port(), true); !read) {
        ReportClockFailure("diff", false, "reading the setup from the clock failed: " + GetString(IDS_READ_FAILED), read);
        return false;
    }
    side.config = *session.State().GetConfig();
    return true;
}

nlohmann::ordered_json SideJson(const TSide& side) { return {{"source", side.source}, {"name", side.name}}; }

nlohmann::ordered_json TextOrNull(const TItemValue& v) {
    return v.hasText ? nlohmann::ordered_json(v.text) : nlohmann::ordered_json(nullptr);
}

int RunDiff(const CCommandLine& global, const CCommandLine& args) {
    const bool fromPort = args.Has("port") || global.Has("port");
    const std::size_t files = args.GetArgs().size();
    if (fromPort ? files != 1 : files != 2)
        return ReportUsage("diff", fromPort ? "with --port, give one setup file" : "give two setup files");

    TSide a, b;
    if (fromPort) {
        a.source = "port";
        b.source = "file";
        b.name = args.GetArgs()[0];
        // The file first: a bad one never costs a read of the clock.
        if (!LoadSide(b) || !ReadSide(global, args, a)) return DIFF_TROUBLE;
    } else {
        a = {"file", args.GetArgs()[0], {}};
        b = {"file", args.GetArgs()[1], {}};
        if (!LoadSide(a) || !LoadSide(b)) return DIFF_TROUBLE;
    }

    const TSetupDiff diff = DiffSetups(a.config, b.config);
    if (args.Has("json")) {
        nlohmann::ordered_json doc = JsonDocument("diff");
        doc["a"] = SideJson(a);
        doc["b"] = SideJson(b);
        doc["equal"] = diff.Equal();
        nlohmann::ordered_json items = nlohmann::ordered_json::array();
        for (const auto& d : diff.items)
            items.push_back({{"number", d.item},
                             {"label", d.name},
                             {"a", TextOrNull(d.a)},
                             {"b", TextOrNull(d.b)},
                             {"a_raw", d.a.raw},
                             {"b_raw", d.b.raw}});
        doc["differences"] = items;
        nlohmann::ordered_json bytes = nlohmann::ordered_json::array();
        for (const auto& d : diff.bytes) bytes.push_back({{"offset", d.offset}, {"a", d.a}, {"b", d.b}});
        doc["other_bits"] = bytes;
        if (!WriteJson(doc)) return DIFF_TROUBLE;
        return diff.Equal() ? DIFF_EQUAL : DIFF_DIFFERENT;
    }

    std::string text;
    for (const auto& d : diff.items) {
        const std::string line = d.name + ": " + ShowItemValue(d.a) + " -> " + ShowItemValue(d.b);
        text += FormatString("%3d  ", d.item) + VisibleText(line) + "\n";
    }
    for (const auto& d : diff.bytes)
        text += FormatString("     byte %zu, bits no item holds: 0x%02X -> 0x%02X\n", d.offset, d.a, d.b);
    if (!WriteStdout(text)) return DIFF_TROUBLE;
    return diff.Equal() ? DIFF_EQUAL : DIFF_DIFFERENT;
}

}  // namespace

void AddDiffCommands(std::vector<TCtlCommand>& table) {
    std::vector<TCtlOption> options = {{"json", 0, nullptr, "print the differences as JSON (see docs/json.md)"}};
    AddPortOptions(options);
    table.push_back({"diff", "A B | --port DEV FILE", "List the setup items that differ between two setups.",
                     "A and B are setup files. With --port the clock's current setup is A and FILE\n"
                     "is B, so the list reads as what writing FILE would change. One line per item:\n"
                     "its number, label, and A's value -> B's value; a value without a text is shown\n"
                     "by its stored number. Record bits that no item holds are compared as well.\n"
                     "Exit status: 0 the setups are equal, 1 they differ, 2 trouble (a file that\n"
                     "cannot be read, a clock that cannot be read, a usage error).\n",
                     options, 1, 2, RunDiff});
}
