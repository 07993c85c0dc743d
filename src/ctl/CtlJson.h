// tarvelctl's machine-readable output (--json): one shape for every command,
// described in docs/json.md. Every document is one object with "version"
// and "command"; setup items are always written by ItemJson.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "ClockConfig.h"
#include "ClockResult.h"

// Raised only when the shape changes in a way that breaks a reader.
constexpr int CTL_JSON_VERSION = 1;

// {"version": 1, "command": command}
nlohmann::ordered_json JsonDocument(const std::string& command);
// {"number", "label", "group", "value", "raw"}; value is null when the stored
// value has no text, group null for an item the setup tree does not show.
nlohmann::ordered_json ItemJson(const TClockConfig& config, int item);
// Every setup item, by number.
nlohmann::ordered_json AllItemsJson(const TClockConfig& config);
// The document, indented, with a line end; false (reported) when stdout fails.
bool WriteJson(const nlohmann::ordered_json& document);

// A command that failed on the clock's line: "tarvelctl: TEXT" on stderr and
// the clock's reason on the line after it; with json, also a document with
// "error", "reason" and "failure" on stdout. Returns CTL_FAILED.
int ReportClockFailure(const std::string& command, bool json, const std::string& text, const TClockResult& why);
