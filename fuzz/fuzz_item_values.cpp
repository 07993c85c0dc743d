// Setup item values from text: the item table's checks, and tarvelctl's set
// and get on a setup file. Input: up to eight lines, each "ITEM=VALUE" as
// given to `tarvelctl set`; the first four bytes also serve as a raw value.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ClockState.h"
#include "CtlCommand.h"
#include "FuzzCheck.h"
#include "Waits.h"
#include "SetupItems.h"
#include "SimClock.h"

// tarvelctl's main is not linked: its reports go nowhere here.
void ReportError(const std::string&) {}
int ReportUsage(const std::string&, const std::string&) { return CTL_USAGE; }

namespace {

std::string g_file;
int g_out = -1;  // standard output of the commands
std::vector<TCtlCommand> g_table;
std::string g_factory;

const TCtlCommand& Command(const char* name) {
    for (const auto& c : g_table)
        if (std::strcmp(c.name, name) == 0) return c;
    std::abort();
}

// Runs one file command as tarvelctl would; its exit code and what it printed.
int Run(const char* name, const std::vector<std::string>& args, std::string* printed = nullptr,
        std::vector<std::string>* taken = nullptr) {
    const TCtlCommand& command = Command(name);
    CCommandLine global, parsed;
    std::string error;
    if (!parsed.Parse(args, command.options, false, error)) return CTL_USAGE;
    if (parsed.WantsHelp()) return CTL_USAGE;
    const std::size_t n = parsed.GetArgs().size();
    if (n < command.minArgs || n > command.maxArgs) return CTL_USAGE;
    if (taken) *taken = parsed.GetArgs();
    std::fflush(stdout);
    FUZZ_CHECK(::ftruncate(g_out, 0) == 0 && ::lseek(g_out, 0, SEEK_SET) == 0);
    const int rc = command.run(global, parsed);
    std::fflush(stdout);
    if (printed) {
        const off_t end = ::lseek(g_out, 0, SEEK_CUR);
        printed->assign(static_cast<std::size_t>(end), '\0');
        FUZZ_CHECK(::pread(g_out, printed->data(), printed->size(), 0) == end);
    }
    return rc;
}

std::string FileBytes() {
    std::ifstream in(g_file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    AddFileCommands(g_table);
    const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string dir = std::string(base) + "/tarvel-fuzz-items.XXXXXX";
    FUZZ_CHECK(::mkdtemp(dir.data()) != nullptr);
    g_file = dir + "/setup.hcs";
    CClockState state;
    *state.GetConfig() = CSimClock::MakeFactorySetup();
    std::ostringstream out;
    state.Serialize(out);
    g_factory = out.str();
    g_out = ::memfd_create("fuzz-stdout", MFD_CLOEXEC);
    FUZZ_CHECK(g_out >= 0);
    FUZZ_CHECK(::dup2(g_out, STDOUT_FILENO) == STDOUT_FILENO);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The table's own checks with a raw value: a refused value is never stored.
    std::int32_t raw = 0;
    std::memcpy(&raw, data, size < sizeof raw ? size : sizeof raw);
    const TClockConfig factory = CSimClock::MakeFactorySetup();
    for (int item = -1; item <= ITEM_COUNT; ++item) {
        TClockConfig config = factory;
        if (!SetItem(config, item, raw)) FUZZ_CHECK(std::memcmp(&config, &factory, CLOCK_CONFIG_SIZE) == 0);
        std::string text;
        GetItemText(config, item, text);
        int choice = 0;
        GetItemChoice(config, item, choice);
        GetChoiceText(item, raw, text);
        CheckItemValue(item, raw);
    }

    // The same values as tarvelctl takes them.
    std::vector<std::string> args{g_file};
    std::string line;
    for (std::size_t i = 0; i <= size && args.size() < 9; ++i) {
        if (i == size || data[i] == '\n') {
            if (!line.empty()) args.push_back(line);
            line.clear();
        } else {
            line.push_back(static_cast<char>(data[i]));
        }
    }
    {
        std::ofstream out(g_file, std::ios::binary | std::ios::trunc);
        out << g_factory;
    }
    std::vector<std::string> assignments;
    const int rc = Run("set", args, nullptr, &assignments);
    const std::string after = FileBytes();
    if (rc != CTL_DONE) {
        FUZZ_CHECK(after == g_factory);  // all or nothing
        return 0;
    }
    FUZZ_CHECK(after.size() == g_factory.size());
    // What get prints for a changed item is taken back by set to the same
    // file. A stored value without a text in the item's list (the table
    // allows a few such) shows as "Unexpected Value!", which set cannot take.
    for (std::size_t i = 1; i < assignments.size(); ++i) {
        const std::string item = assignments[i].substr(0, assignments[i].find('='));
        std::string shown;
        FUZZ_CHECK(Run("get", {g_file, item}, &shown) == CTL_DONE);
        FUZZ_CHECK(!shown.empty() && shown.back() == '\n');
        shown.pop_back();
        std::string unexpected;
        GetChoiceText(3, 1000, unexpected);  // the text for a value beyond the list
        if (shown == unexpected) continue;
        FUZZ_CHECK(Run("set", {g_file, item + "=" + shown}) == CTL_DONE);
        FUZZ_CHECK(FileBytes() == after);
    }
    return 0;
}
