#include "MonitoringRange.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace {

bool ParseNumber(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return errno == 0 && end == text.c_str() + text.size() && std::isfinite(value);
}

// The shortest text that reads back as the same number.
std::string Shortest(double value) {
    char buffer[32];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return std::string(buffer, end);
}

}  // namespace

bool TAlertRange::Alerts(double value) const {
    const bool within = (lowUnbounded || value >= low) && (highUnbounded || value <= high);
    return inside ? within : !within;
}

bool TAlertRange::AlertsAnywhere(double from, double to) const {
    if (inside) return (lowUnbounded || to >= low) && (highUnbounded || from <= high);
    return (!lowUnbounded && from < low) || (!highUnbounded && to > high);
}

std::string TAlertRange::Normalised() const {
    const std::string start = lowUnbounded ? "~" : Shortest(low);
    std::string text = inside ? "@" : "";
    if (!inside && !lowUnbounded && low == 0 && !highUnbounded) return text + Shortest(high);
    return text + start + ":" + (highUnbounded ? std::string() : Shortest(high));
}

TPluginState OffsetState(double offset, double uncertainty, const TAlertRange& warn, const TAlertRange& crit) {
    const double a = std::fabs(offset - uncertainty), b = std::fabs(offset + uncertainty);
    const double from = offset - uncertainty <= 0 && offset + uncertainty >= 0 ? 0 : std::min(a, b);
    const double to = std::max(a, b);
    if (crit.AlertsAnywhere(from, to)) return PLUGIN_CRITICAL;
    if (warn.AlertsAnywhere(from, to)) return PLUGIN_WARNING;
    return PLUGIN_OK;
}


bool ParseAlertRange(const std::string& text, TAlertRange& range, std::string& error) {
    TAlertRange parsed;
    parsed.text = text;
    std::string rest = text;
    if (!rest.empty() && rest[0] == '@') {
        parsed.inside = true;
        rest.erase(0, 1);
    }
    const std::size_t colon = rest.find(':');
    const std::string low = colon == std::string::npos ? "0" : rest.substr(0, colon);
    const std::string high = colon == std::string::npos ? rest : rest.substr(colon + 1);
    bool ok = true;
    if (low == "~")
        parsed.lowUnbounded = true;
    else
        ok = ParseNumber(low, parsed.low);
    if (high.empty() && colon != std::string::npos)
        parsed.highUnbounded = true;
    else
        ok = ok && ParseNumber(high, parsed.high);
    if (!ok || (!parsed.lowUnbounded && !parsed.highUnbounded && parsed.low > parsed.high)) {
        error = "'" + text + "' is not a threshold range (N, N:, ~:N, N:M or @N:M, with N <= M)";
        return false;
    }
    range = parsed;
    return true;
}
