// The message boxes and beeps of a window, caught instead of shown. What is
// caught outlives the catcher, so it may be made after the window.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ClockPropSheet.h"
#include "SheetParts.h"

class CSheetPrompts {
    struct TCaught {
        std::vector<std::string> boxes;
        std::vector<std::string> details;  // the line under each box's text
        int beeps = 0;
    };
    std::shared_ptr<TCaught> m_caught = std::make_shared<TCaught>();

public:
    explicit CSheetPrompts(CClockPropSheet& sheet) {
        std::shared_ptr<TCaught> caught = m_caught;
        sheet.GetUi().SetBoxHandler([caught](const std::string& text, const std::string& detail) {
            caught->boxes.push_back(text);
            caught->details.push_back(detail);
        });
        LocationPage(sheet).SetBeeper([caught] { ++caught->beeps; });
    }
    CSheetPrompts(const CSheetPrompts&) = delete;
    CSheetPrompts& operator=(const CSheetPrompts&) = delete;

    std::vector<std::string>& boxes = m_caught->boxes;
    std::vector<std::string>& details = m_caught->details;
    int& beeps = m_caught->beeps;
};
