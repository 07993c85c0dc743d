// tarvelctl ports: the port list the Comm Port page shows, for scripts.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "CtlCommand.h"
#include "CtlJson.h"
#include "PortCatalogue.h"
#include "TextUtil.h"

namespace {

// One field of a tab-separated line: no tabs, line ends or other control
// bytes inside (they are shown escaped), "-" for none. Paths are kept whole,
// however long.
std::string Field(const std::string& text) { return text.empty() ? std::string("-") : VisibleText(text); }

int RunPorts(const CCommandLine&, const CCommandLine& args) {
    if (args.Has("json")) {
        nlohmann::ordered_json doc = JsonDocument("ports");
        doc["ports"] = nlohmann::ordered_json::array();
        auto orNull = [](const std::string& s) { return s.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(s); };
        for (const auto& entry : CPortCatalogue::ListEntries())
            doc["ports"].push_back({{"name", entry.name},
                                    {"stable_name", orNull(entry.stableName)},
                                    {"description", orNull(entry.description)},
                                    {"present", entry.present}});
        return WriteJson(doc) ? CTL_DONE : CTL_FAILED;
    }
    for (const auto& entry : CPortCatalogue::ListEntries()) {
        const std::string line = Field(entry.name) + "\t" + Field(entry.stableName) + "\t" + Field(entry.description) +
                                 "\t" + (entry.present ? "present" : "absent") + "\n";
        std::fputs(line.c_str(), stdout);
    }
    return FinishStdout();
}

}  // namespace

void AddPortsCommand(std::vector<TCtlCommand>& table) {
    table.push_back({"ports", "", "List the serial ports: name, stable name, description, present or absent.",
                     "One port a line, the fields separated by tabs, \"-\" for a field that is empty:\n"
                     "the name (COM1 to COM4 first, then device paths, then SIM), the stable name\n"
                     "under /dev/serial/by-id that finds the same adapter in any socket, what the\n"
                     "port is, and whether its device is there. --port takes any of the names.\n"
                     "TARVEL_SYSFS_ROOT=DIR (for tests) lists the ports of a fake machine under DIR.\n",
                     {{"json", 0, nullptr, "print the list as JSON (see docs/json.md)"}}, 0, 0, RunPorts});
}
