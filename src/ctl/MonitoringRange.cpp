#include "MonitoringRange.h"

#include <cerrno>
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

}  // namespace

bool TAlertRange::Alerts(double value) const {
    const bool within = (lowUnbounded || value >= low) && (highUnbounded || value <= high);
    return inside ? within : !within;
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
