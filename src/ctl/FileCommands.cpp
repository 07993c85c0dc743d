// The commands that work on setup files: new, dump, hex, show, get, set.
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "ClockFile.h"
#include "ClockState.h"
#include "CtlClockUi.h"
#include "CtlCommand.h"
#include "CtlJson.h"
#include "Resource.h"
#include "SetupItems.h"
#include "StringTable.h"
#include "TextUtil.h"

std::string FileErrorText(const CFileError& e) {
    const unsigned id =
        e.GetKind() == CFileError::WRITE_FAILED ? IDS_ERROR_SAVING_FILE : IDS_ERROR_OPENING_FILE;
    return GetString(id) + " " + e.GetPath() + ": " + e.GetReason();
}

int FinishStdout() {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return CTL_DONE;
    ReportError(std::string("cannot write to standard output: ") + std::strerror(errno));
    return CTL_FAILED;
}

bool WriteStdout(const std::string& bytes) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size()) return FinishStdout() == CTL_DONE;
    ReportError(std::string("cannot write to standard output: ") + std::strerror(errno));
    return false;
}

// Loads the file; false (the reason already on stderr) when it cannot be used.
bool LoadOrReport(CClockState& state, const std::string& path) {
    // A refused file tells why, naming it.
    CCtlClockUi ui(path);
    state.SetUi(&ui);
    bool loaded = false;
    try {
        loaded = LoadConfigFile(state, path) == TLoadResult::Loaded;
    } catch (const CFileError& e) {
        ReportError(FileErrorText(e));
    }
    state.SetUi(nullptr);
    return loaded;
}

namespace {

// FILE, or for "-" standard input, as import reads it; false (reported) when
// it cannot be used.
bool LoadInput(CClockState& state, const std::string& path) {
    if (path != "-") return LoadOrReport(state, path);
    // Only the first bytes of a setup file matter, as when reading a file.
    std::string bytes(CClockState::FILE_SIZE, '\0');
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), stdin);
    if (std::ferror(stdin)) {
        ReportError(GetString(IDS_ERROR_OPENING_FILE) + " " + path + ": " + std::strerror(errno));
        return false;
    }
    bytes.resize(got);
    CCtlClockUi ui(path);
    state.SetUi(&ui);
    bool loaded = false;
    std::istringstream in(bytes);
    try {
        loaded = state.Serialize(in) == TLoadResult::Loaded;
    } catch (const CFileError& e) {
        ReportError(GetString(IDS_ERROR_OPENING_FILE) + " " + path + ": " + e.GetReason());
    }
    state.SetUi(nullptr);
    return loaded;
}

bool SaveOrReport(const CClockState& state, const std::string& path) {
    try {
        SaveConfigFile(state, path);
        return true;
    } catch (const CFileError& e) {
        ReportError(FileErrorText(e));
        return false;
    }
}

// Items are addressed by number; false (reported) for one outside the table.
bool ParseItem(const std::string& text, int& item, bool& usageError) {
    long long v = 0;
    usageError = false;
    if (!ParseWhole(text, 0, LLONG_MAX / 2, v) || text[0] == '+' || text[0] == '-') {
        usageError = true;
        return false;
    }
    // Item 0 holds no field: the numbers start at 1.
    if (v < 1 || v >= ITEM_COUNT) {
        ReportError("no item " + text + " (items are numbered 1 to " + std::to_string(ITEM_COUNT - 1) + ")");
        return false;
    }
    item = static_cast<int>(v);
    return true;
}

// The label with its value in place of "%s", as the setup tree shows it.
std::string ItemLine(const TClockConfig& config, int item, const std::string& label) {
    const std::size_t at = label.find("%s");
    if (at == std::string::npos) return label;
    std::string value;
    if (!GetItemText(config, item, value)) value = "(no value)";
    return label.substr(0, at) + value + label.substr(at + 2);
}

int RunNew(const CCommandLine&, const CCommandLine& args) {
    const std::string& path = args.GetArgs()[0];
    struct stat st;
    if (!args.Has("force") && ::lstat(path.c_str(), &st) == 0) {
        ReportError(path + " exists; use --force to replace it");
        return CTL_FAILED;
    }
    return SaveOrReport(CClockState(), path) ? CTL_DONE : CTL_FAILED;
}

int RunDump(const CCommandLine&, const CCommandLine& args) {
    CClockState state;
    if (!LoadInput(state, args.GetArgs()[0])) return CTL_FAILED;
    const std::string out = args.GetValue("output");
    if (out.empty() || out == "-") {
        std::ostringstream text;
        state.Dump(text);
        return WriteStdout(text.str()) ? CTL_DONE : CTL_FAILED;
    }
    try {
        DumpConfigFile(state, out);
    } catch (const CFileError& e) {
        ReportError(FileErrorText(e));
        return CTL_FAILED;
    }
    return CTL_DONE;
}

int RunHex(const CCommandLine&, const CCommandLine& args) {
    CClockState state;
    if (!LoadInput(state, args.GetArgs()[0])) return CTL_FAILED;
    state.ClearBuffer();
    const std::size_t n = ConfigToRaw(state.GetBuffer(), state.GetBufferSize(), *state.GetConfig());
    return WriteStdout(std::string(state.GetBuffer(), n)) ? CTL_DONE : CTL_FAILED;
}

int RunShow(const CCommandLine&, const CCommandLine& args) {
    CClockState state;
    if (!LoadInput(state, args.GetArgs()[0])) return CTL_FAILED;
    if (args.Has("json")) {
        nlohmann::ordered_json doc = JsonDocument("show");
        doc["file"] = args.GetArgs()[0];
        doc["items"] = AllItemsJson(*state.GetConfig());
        return WriteJson(doc) ? CTL_DONE : CTL_FAILED;
    }
    std::vector<std::string> groups;
    GetGroupNames(groups);
    std::string text;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        text += groups[g] + "\n";
        std::vector<std::string> labels;
        std::vector<int> items;
        GetGroupItems(static_cast<int>(g), labels, items);
        for (std::size_t k = 0; k < items.size() && k < labels.size(); ++k)
            text += FormatString("  %2d  ", items[k]) + ItemLine(*state.GetConfig(), items[k], labels[k]) + "\n";
    }
    return WriteStdout(text) ? CTL_DONE : CTL_FAILED;
}

int RunGet(const CCommandLine&, const CCommandLine& args) {
    const std::string& path = args.GetArgs()[0];
    std::vector<int> items;
    for (std::size_t i = 1; i < args.GetArgs().size(); ++i) {
        int item = 0;
        bool usage = false;
        if (!ParseItem(args.GetArgs()[i], item, usage))
            return usage ? ReportUsage("get", "'" + args.GetArgs()[i] + "' is not an item number") : CTL_FAILED;
        items.push_back(item);
    }
    CClockState state;
    if (!LoadInput(state, path)) return CTL_FAILED;
    if (args.Has("json")) {
        // A value without a text is null here, beside its raw number.
        nlohmann::ordered_json doc = JsonDocument("get");
        doc["file"] = path;
        doc["items"] = nlohmann::ordered_json::array();
        for (int item : items) doc["items"].push_back(ItemJson(*state.GetConfig(), item));
        return WriteJson(doc) ? CTL_DONE : CTL_FAILED;
    }
    std::string text;
    for (int item : items) {
        std::string value;
        if (!GetItemText(*state.GetConfig(), item, value)) {
            ReportError("item " + std::to_string(item) + " has no value to show");
            return CTL_FAILED;
        }
        text += value + "\n";
    }
    return WriteStdout(text) ? CTL_DONE : CTL_FAILED;
}

struct TAssignment {
    int item;
    std::string value;
};

// "item 3: '12345' is not one of "1200", ... nor a number from 0 to 4".
void ReportNotAChoice(const TAssignment& a, const std::vector<std::string>& choices) {
    std::string list;
    for (std::size_t i = 0; i < choices.size(); ++i) list += (i ? ", \"" : "\"") + choices[i] + "\"";
    int min = 0, max = 0;
    GetItemRange(a.item, min, max);
    ReportError(FormatString(GetString(IDS_CTL_NOT_A_CHOICE).c_str(), a.item, a.value.c_str(), list.c_str(), min, max));
}

// The number SetItem takes: a choice text (any case) wins over a number of the
// same spelling, so what get prints can be given back to set. The model also
// takes its letter alone. A number for a choice item must be one it accepts,
// or the choices are listed.
bool ResolveValue(const TAssignment& a, int& value) {
    std::vector<std::string> choices;
    const bool hasChoices = GetChoiceList(a.item, choices);
    const int first = GetFirstChoiceValue(a.item);
    for (std::size_t i = 0; i < choices.size(); ++i) {
        if (EqualNoCase(choices[i], a.value)) {
            value = first + static_cast<int>(i);
            return true;
        }
    }
    if (hasChoices && first == 'A' && a.value.size() == 1) {
        const int letter = a.value[0] >= 'a' && a.value[0] <= 'z' ? a.value[0] - 'a' + 'A' : a.value[0];
        if (letter >= 'A' && letter < 'A' + static_cast<int>(choices.size())) {
            value = letter;
            return true;
        }
    }
    long long number = 0;
    if (ParseWhole(a.value, INT32_MIN, INT32_MAX, number) &&
        (!hasChoices || CheckItemValue(a.item, static_cast<int>(number)))) {
        value = static_cast<int>(number);
        return true;
    }
    if (hasChoices)
        ReportNotAChoice(a, choices);
    else
        ReportError("item " + std::to_string(a.item) + ": '" + a.value + "' is not a whole number");
    return false;
}

int RunSet(const CCommandLine&, const CCommandLine& args) {
    const std::string& path = args.GetArgs()[0];
    std::vector<TAssignment> assignments;
    for (std::size_t i = 1; i < args.GetArgs().size(); ++i) {
        const std::string& arg = args.GetArgs()[i];
        const std::size_t eq = arg.find('=');
        if (eq == std::string::npos) return ReportUsage("set", "'" + arg + "' is not ITEM=VALUE");
        TAssignment a{0, arg.substr(eq + 1)};
        bool usage = false;
        if (!ParseItem(arg.substr(0, eq), a.item, usage))
            return usage ? ReportUsage("set", "'" + arg.substr(0, eq) + "' is not an item number") : CTL_FAILED;
        assignments.push_back(a);
    }

    // Nobody else changes FILE between this load and the save below.
    CSetupFileLock lock;
    try {
        lock.Lock(path);
    } catch (const CFileError& e) {
        ReportError(FileErrorText(e));
        return CTL_FAILED;
    }
    CClockState state;
    if (!LoadOrReport(state, path)) return CTL_FAILED;
    // All or nothing: the assignments go to a copy, saved only when every one
    // was accepted.
    CClockState changed = state;
    CCtlClockUi ui;
    changed.SetUi(&ui);
    for (const TAssignment& a : assignments) {
        int kind = ITEM_KIND_NONE;
        if (!GetItemKind(a.item, kind) || kind == ITEM_KIND_NONE) {
            ReportError("item " + std::to_string(a.item) + " cannot be set");
            return CTL_FAILED;
        }
        int value = 0;
        if (!ResolveValue(a, value)) return CTL_FAILED;
        // A refused value reports its valid range.
        if (!changed.SetItem(a.item, value, true)) return CTL_FAILED;
    }
    return SaveOrReport(changed, path) ? CTL_DONE : CTL_FAILED;
}

}  // namespace

void AddFileCommands(std::vector<TCtlCommand>& table) {
    table.push_back({"new", "FILE", "Write a fresh setup with every value zero.",
                     "An existing FILE is left alone unless --force is given.\n",
                     {{"force", 'f', nullptr, "replace an existing FILE"}}, 1, 1, RunNew});
    table.push_back({"dump", "FILE [-o OUT]", "Write the setup's text dump.",
                     "FILE '-' is standard input. The dump goes to standard output, or to OUT ('-'\n"
                     "is standard output).\n",
                     {{"output", 'o', "OUT", "write the dump to OUT"}}, 1, 1, RunDump});
    table.push_back({"hex", "FILE", "Print the hex records the clock would receive.",
                     "Nine Intel HEX records, 377 characters, each record ended by CR LF.\n"
                     "FILE '-' is standard input.\n", {}, 1, 1,
                     RunHex});
    table.push_back({"show", "FILE", "Print the setup tree: groups, item numbers, labels and values.",
                     "FILE '-' is standard input.\n", {{"json", 0, nullptr, "print every item as JSON (see docs/json.md)"}}, 1, 1, RunShow});
    table.push_back({"get", "FILE ITEM...", "Print the value of setup items, one per line.",
                     "Items are addressed by number, 1 to 89 (see show). Choice items print their\n"
                     "choice text. FILE '-' is standard input.\n",
                     {{"json", 0, nullptr, "print the items as JSON (see docs/json.md)"}}, 2, SIZE_MAX, RunGet});
    table.push_back({"set", "FILE ITEM=VALUE...", "Change setup items in FILE.",
                     "VALUE is a whole number, or for a choice item its choice text (any case) or\n"
                     "its index; a choice text wins over an index of the same spelling. Either all\n"
                     "assignments are accepted and FILE is replaced, or FILE is left untouched and\n"
                     "the reason (such as the valid range) is printed.\n",
                     {}, 2, SIZE_MAX, RunSet});
}
