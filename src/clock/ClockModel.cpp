#include "ClockModel.h"

#include <algorithm>

#include "OsLayer.h"
#include "StringTable.h"

const TClockModelRow* CClockModel::Row(int index) {
    return index >= 0 && index < MODEL_COUNT ? &CLOCK_MODELS[index] : nullptr;
}

int CClockModel::VersionAnsweringModel() {
    for (int i = 0; i < MODEL_COUNT; ++i)
        if (CLOCK_MODELS[i].answersVersion) return i;
    return -1;
}

std::vector<std::string> CClockModel::AllCommandTexts() {
    std::vector<std::string> texts;
    CClockModel model;
    for (int i = 0; i < MODEL_COUNT; ++i) {
        model.SetModel(i);
        for (int c = 0; c < CLOCK_COMMAND_COUNT; ++c) {
            if (c == SET_UTC_TIME) continue;
            std::string text;
            model.FormatCommand(text, static_cast<TClockCommand>(c), std::tm{});
            if (!text.empty()) texts.push_back(text);
        }
    }
    std::sort(texts.begin(), texts.end());
    texts.erase(std::unique(texts.begin(), texts.end()), texts.end());
    return texts;
}

void CClockModel::GetModelList(std::vector<std::string>& list) const {
    for (const auto& row : CLOCK_MODELS) list.emplace_back(row.name);
}

bool CClockModel::GetModelName(std::string& name) const {
    const TClockModelRow* row = SelectedRow();
    name = row ? row->name : "";
    return row != nullptr;
}

int CClockModel::FindModel(const std::string& text, bool whole) {
    if (text.empty()) return -1;
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    for (int i = 0; i < MODEL_COUNT; ++i) {
        const std::string name = CLOCK_MODELS[i].name;
        if (text.size() > name.size() || (whole && text.size() != name.size())) continue;
        bool match = true;
        for (std::size_t k = 0; k < text.size() && match; ++k) match = lower(text[k]) == lower(name[k]);
        if (match) return i;
    }
    return -1;
}

void CClockModel::FormatCommand(std::string& text, TClockCommand command) const {
    if (command == SET_UTC_TIME) {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        if (!LocalCalendar(now, local)) {
            text.clear();
            return;
        }
        FormatCommand(text, command, local);
        return;
    }
    FormatCommand(text, command, std::tm{});
}

void CClockModel::FormatCommand(std::string& text, TClockCommand command,
                                const std::tm& localNow) const {
    text.clear();
    const char* format = nullptr;
    switch (command) {
        case EEPROM_TO_ACTIVE: format = "1,%sXO"; break;
        case ACTIVE_TO_PC: format = "1,%sXT"; break;
        case PC_TO_ACTIVE: format = "1,%sXR"; break;
        case ACTIVE_TO_EEPROM: format = "1,%sXS"; break;
        case COMMAND_XZ: format = "0,0,%sXZ"; break;
        case RESET: format = "1,%sXX"; break;
        case GET_VERSION: text = "v"; return;
        case GET_UTC_TIME: text = "TU"; return;
        case COMMAND_B0: text = "b0"; return;
        case SET_UTC_TIME: {
            char buf[64];
            const std::size_t n = std::strftime(buf, sizeof buf, "%Y:%m:%d:%H:%MTS", &localNow);
            text.assign(buf, n);
            return;
        }
    }
    if (!format) return;  // a value outside the enumeration
    const TClockModelRow* row = SelectedRow();
    if (!row) return;
    text = FormatString(format, row->commandText);
}

void CClockModel::GetCommandName(std::string& name, TClockCommand command) const {
    FormatCommand(name, command);
}
