#include "CommandLine.h"

namespace {

const TCtlOption* FindLong(const std::vector<TCtlOption>& options, const std::string& name) {
    for (const auto& o : options)
        if (name == o.longName) return &o;
    return nullptr;
}

const TCtlOption* FindShort(const std::vector<TCtlOption>& options, char name) {
    for (const auto& o : options)
        if (o.shortName != 0 && o.shortName == name) return &o;
    return nullptr;
}

}  // namespace

std::string CCommandLine::GetValue(const std::string& longName) const {
    auto it = m_values.find(longName);
    return it == m_values.end() || it->second.empty() ? std::string() : it->second.back();
}

std::vector<std::string> CCommandLine::GetValues(const std::string& longName) const {
    auto it = m_values.find(longName);
    return it == m_values.end() ? std::vector<std::string>() : it->second;
}

bool CCommandLine::Parse(const std::vector<std::string>& args, const std::vector<TCtlOption>& options,
                         bool stopAtArgument, std::string& error) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool isOption = !optionsEnded && arg.size() > 1 && arg[0] == '-';
        if (!isOption) {
            m_args.push_back(arg);
            if (stopAtArgument) {
                m_rest.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
                return true;
            }
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            m_help = true;
            continue;
        }
        const TCtlOption* option = nullptr;
        std::string value;
        bool hasValue = false;
        std::string shown = arg;
        if (arg.compare(0, 2, "--") == 0) {
            const std::size_t eq = arg.find('=');
            const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
            option = FindLong(options, name);
            shown = "--" + name;
            if (option && eq != std::string::npos) {
                value = arg.substr(eq + 1);
                hasValue = true;
            }
        } else {
            option = FindShort(options, arg[1]);
            shown = arg.substr(0, 2);
            if (option && arg.size() > 2) {
                value = arg.substr(2);
                hasValue = true;
            }
        }
        if (!option) {
            error = "unknown option " + shown;
            return false;
        }
        if (!option->valueName) {
            if (hasValue) {
                error = "option " + shown + " takes no value";
                return false;
            }
        } else if (!hasValue) {
            if (i + 1 >= args.size()) {
                error = "option " + shown + " needs a value";
                return false;
            }
            value = args[++i];
        }
        m_values[option->longName].push_back(value);
    }
    return true;
}
