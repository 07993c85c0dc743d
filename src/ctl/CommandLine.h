// The arguments of one tarvelctl command (or the options before it): options
// by name, the rest in order.
#pragma once

#include <map>
#include <string>
#include <vector>

struct TCtlOption {
    const char* longName;   // without the dashes, e.g. "output"
    char shortName;         // e.g. 'o'; 0 for none
    const char* valueName;  // e.g. "OUT"; null for a switch
    const char* help;
};

class CCommandLine {
public:
    // Parses args against the known options. "--help"/"-h" is always known;
    // "--" ends the options; "-" alone is an argument (standard input or
    // output). With stopAtArgument the first argument and everything after it
    // is left unparsed (see GetRest). False, with a one-line reason, on an
    // unknown option or a missing value.
    bool Parse(const std::vector<std::string>& args, const std::vector<TCtlOption>& options,
               bool stopAtArgument, std::string& error);

    bool WantsHelp() const { return m_help; }
    bool Has(const std::string& longName) const { return m_values.count(longName) != 0; }
    // The value given last; an option may be given more than once.
    std::string GetValue(const std::string& longName) const;
    // Every value given, in order (a switch: one empty value per time given).
    std::vector<std::string> GetValues(const std::string& longName) const;
    // All options given, by long name.
    const std::map<std::string, std::vector<std::string>>& GetOptions() const { return m_values; }
    const std::vector<std::string>& GetArgs() const { return m_args; }
    // What followed the first argument when parsing stopped there.
    const std::vector<std::string>& GetRest() const { return m_rest; }

private:
    bool m_help = false;
    std::map<std::string, std::vector<std::string>> m_values;
    std::vector<std::string> m_args;
    std::vector<std::string> m_rest;
};
