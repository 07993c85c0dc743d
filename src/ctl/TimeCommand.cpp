// tarvelctl time: the clock's time asked, set from the PC's, or watched for
// its offset to better than the whole seconds it tells.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>

#include "ClockCheck.h"
#include "ClockOffset.h"
#include "CtlCommand.h"
#include "CtlJson.h"
#include "OffsetPoll.h"
#include "PortSession.h"
#include "Resource.h"
#include "StringTable.h"
#include "TextUtil.h"

namespace {

// One JSON object on one line, as time watch prints them.
bool WriteJsonLine(const nlohmann::ordered_json& doc) {
    return WriteStdout(doc.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n");
}

// "time get: the clock refused ...", else "time get: " and text. A watch
// keeps to one object a line, its failure object too.
int ReportTimeFailure(const std::string& command, bool json, std::string text, const TClockResult& why) {
    text = why.failure == TClockFailure::Refused
               ? FormatString(GetString(IDS_CTL_TIME_REFUSED).c_str(), command.substr(5).c_str())
               : command + ": " + text;
    if (command != "time watch" || !json) return ReportClockFailure(command, json, text, why);
    ReportClockFailure(command, false, text, why);
    nlohmann::ordered_json doc = JsonDocument(command);
    doc["error"] = text;
    doc["reason"] = why.Reason().empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(why.Reason());
    doc["failure"] = why.Kind();
    WriteJsonLine(doc);
    return CTL_FAILED;
}

// The host's time when the clock took the command: when its last byte
// arrived, half a round trip after it was written.
THostTime TakenAt(const TClockResult& asked, CPortSession& session) {
    const long long sinceLastByte =
        NowMs() - asked.lastByteMs - static_cast<long long>(session.Port().RoundTripMs() / 2);
    return std::chrono::floor<std::chrono::milliseconds>(std::chrono::system_clock::now()) -
           std::chrono::milliseconds(std::max(0LL, sinceLastByte));
}

// The reply, its fields when it has the DAY:H:M:S form, the host's time and
// the offset they give, as time get --json has them.
nlohmann::ordered_json TimeJson(const char* command, const std::string& line, THostTime askedAt) {
    nlohmann::ordered_json doc = JsonDocument(command);
    doc["reply"] = line;
    const std::optional<TClockUtcFields> utc = ParseTimeReply(line);
    doc["utc"] = nullptr;
    if (utc)
        doc["utc"] = {{"day_of_year", utc->dayOfYear}, {"hour", utc->hour}, {"minute", utc->minute}, {"second", utc->second}};
    doc["host_utc"] = FormatUtcMillis(askedAt);
    const std::optional<std::chrono::milliseconds> offset = utc ? ClockOffset(*utc, askedAt) : std::nullopt;
    doc["offset_seconds"] = nullptr;
    if (offset) doc["offset_seconds"] = static_cast<double>(offset->count()) / 1000.0;
    return doc;
}

// Polls until --for has passed, printing the estimate after each poll.
// Ctrl-C, SIGTERM or SIGHUP end it after the poll it is in: a clean end once
// the clock has told its time.
int RunTimeWatch(CPortSession& session, double seconds, bool json) {
    COffsetPoller poller;
    const double deadline = HostSeconds() + seconds;
    bool told = false, written = true;
    auto show = [&](const TClockResult& asked, const std::string& line) {
        told = true;
        const COffsetEstimator& estimate = poller.Estimate();
        // Never shown narrower than it is.
        const double uncertainty = std::ceil(estimate.Uncertainty() * 1e6) / 1e6;
        if (json) {
            nlohmann::ordered_json doc = TimeJson("time watch", line, TakenAt(asked, session));
            doc["offset_seconds"] = std::round(estimate.Offset() * 1e6) / 1e6;
            doc["uncertainty_seconds"] = uncertainty;
            doc["polls"] = estimate.Polls();
            written = WriteJsonLine(doc);
        } else {
            const std::string reply = VisibleText(line);
            std::printf("%s\n", FormatString(GetString(IDS_CTL_TIME_WATCH_LINE).c_str(), reply.c_str(), estimate.Offset(),
                                             std::ceil(uncertainty * 1e3) / 1e3, static_cast<int>(estimate.Polls()))
                                    .c_str());
            written = std::fflush(stdout) == 0 && !std::ferror(stdout);
        }
        return written && CPortSession::StopSignal() == 0;
    };
    // A goal below zero is never met: the deadline ends it.
    const TClockResult last = poller.PollUntil(session.State(), session.Port(), -1, deadline, show);
    if (!written) return CTL_FAILED;
    if (CPortSession::StopSignal() != 0 && told) return CTL_DONE;
    if (CPortSession::StopSignal() != 0) {
        ReportError(FormatString(GetString(IDS_CTL_TIME_WATCH_STOPPED).c_str(), StopName()));
        return CTL_FAILED;
    }
    return last ? CTL_DONE : ReportTimeFailure("time watch", json, "no time from the clock", last);
}

}  // namespace

int RunTimeCommand(const CCommandLine& global, const CCommandLine& args) {
    const std::string& what = args.GetArgs()[0];
    if (what != "get" && what != "set" && what != "watch")
        return ReportUsage("time", "'" + what + "' is none of get, set and watch");
    double watchFor = 60;
    constexpr double kLongestWatch = 86400;
    if (args.Has("for") && (what != "watch" || !ParseForSeconds(args.GetValue("for"), kLongestWatch, watchFor)))
        return ReportUsage("time", what != "watch" ? "--for is for time watch" : ForSecondsRule(kLongestWatch));
    // From here on a stop only ends a watch after its poll.
    if (what == "watch") CPortSession::StopAfterStep(true);
    CPortSession session;
    if (const int rc = OpenCommandSession("time", global, args, session); rc != CTL_DONE) return rc;

    const bool json = args.Has("json");
    if (what == "watch") return RunTimeWatch(session, watchFor, json);
    if (what == "set") {
        const TClockResult set = session.State().SetTime(session.Port());
        return set ? CTL_DONE : ReportTimeFailure("time set", json, "the clock did not take the command", set);
    }
    std::string line;
    const TClockResult asked = session.State().AskTime(session.Port(), line);
    const THostTime askedAt = TakenAt(asked, session);
    if (!asked) return ReportTimeFailure("time get", json, "no time from the clock", asked);
    if (line.empty()) return ReportClockFailure("time get", json, "time get: no reply from the clock", asked);
    if (json) return WriteJson(TimeJson("time get", line, askedAt)) ? CTL_DONE : CTL_FAILED;
    std::printf("%s\n", VisibleText(line).c_str());
    return FinishStdout();
}
