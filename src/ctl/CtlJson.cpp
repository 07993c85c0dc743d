#include "CtlJson.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "CtlCommand.h"
#include "SetupDiff.h"
#include "SetupItems.h"

nlohmann::ordered_json JsonDocument(const std::string& command) {
    return {{"version", CTL_JSON_VERSION}, {"command", command}};
}

nlohmann::ordered_json ItemJson(const TClockConfig& config, int item) {
    const TItemValue v = GetItemValue(config, item);
    nlohmann::ordered_json j = {{"number", item}, {"label", GetItemName(item)}};
    const int group = GetItemGroup(item);
    std::vector<std::string> groups;
    if (group >= 0 && GetGroupNames(groups) && group < static_cast<int>(groups.size()))
        j["group"] = groups[static_cast<std::size_t>(group)];
    else
        j["group"] = nullptr;
    if (v.hasText)
        j["value"] = v.text;
    else
        j["value"] = nullptr;
    j["raw"] = v.raw;
    return j;
}

nlohmann::ordered_json AllItemsJson(const TClockConfig& config) {
    nlohmann::ordered_json items = nlohmann::ordered_json::array();
    long long raw = 0;
    for (int item = 1; item < ITEM_COUNT; ++item)
        if (GetItemRaw(config, item, raw)) items.push_back(ItemJson(config, item));
    return items;
}

bool WriteJson(const nlohmann::ordered_json& document) {
    // Texts from a file or a clock may hold bytes that are not UTF-8: they
    // are replaced rather than refused, so the output is always valid JSON.
    const std::string text = document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    return WriteStdout(text);
}

int ReportClockFailure(const std::string& command, bool json, const std::string& text, const TClockResult& why) {
    ReportError(text);
    const std::string reason = why.Reason();
    if (!reason.empty()) ReportError(reason);
    if (json) {
        nlohmann::ordered_json doc = JsonDocument(command);
        doc["error"] = text;
        doc["reason"] = reason.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(reason);
        doc["failure"] = why.Kind();
        WriteJson(doc);
    }
    return CTL_FAILED;
}
