#include "ClockModel.h"

#include <time.h>

#include "StringTable.h"

namespace {

const char* const MODEL_NAMES[CClockModel::MODEL_COUNT] = {"K201", "K202", "K203",
                                                           "K204", "K205", "K206"};
// The K206 answers to the K205's commands.
const char* const MODEL_COMMAND_TEXTS[CClockModel::MODEL_COUNT] = {"K201", "K202", "K203",
                                                                   "K204", "K205", "K205"};

}  // namespace

void CClockModel::GetModelList(std::vector<std::string>& list) const {
    for (const char* name : MODEL_NAMES) list.emplace_back(name);
}

bool CClockModel::GetModelName(std::string& name) const {
    if (m_index < 0 || m_index >= MODEL_COUNT) {
        name.clear();
        return false;
    }
    name = MODEL_NAMES[m_index];
    return true;
}

int CClockModel::FindModel(const std::string& text, bool whole) {
    if (text.empty()) return -1;
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    for (int i = 0; i < MODEL_COUNT; ++i) {
        const std::string name = MODEL_NAMES[i];
        if (text.size() > name.size() || (whole && text.size() != name.size())) continue;
        bool match = true;
        for (std::size_t k = 0; k < text.size() && match; ++k) match = lower(text[k]) == lower(name[k]);
        if (match) return i;
    }
    return -1;
}

const char* CClockModel::CommandModelText() const {
    if (m_index < 0 || m_index >= MODEL_COUNT) return nullptr;
    return MODEL_COMMAND_TEXTS[m_index];
}

void CClockModel::FormatCommand(std::string& text, TClockCommand command) const {
    if (command == SET_UTC_TIME) {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        if (!localtime_r(&now, &local)) {
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
    const char* model = CommandModelText();
    if (!model) return;
    text = FormatString(format, model);
}

void CClockModel::GetCommandName(std::string& name, TClockCommand command) const {
    FormatCommand(name, command);
}
