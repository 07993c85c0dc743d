// tarvelctl export and import: a setup file as editable text and back.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ClockFile.h"
#include "ClockState.h"
#include "CtlClockUi.h"
#include "CtlCommand.h"
#include "Resource.h"
#include "SetupText.h"
#include "StringTable.h"

namespace {


// The whole text, at most SETUP_TEXT_MAX_SIZE bytes; "-" is standard input.
bool ReadText(const std::string& path, std::string& text) {
    FILE* f = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (!f) {
        ReportError(GetString(IDS_ERROR_OPENING_FILE) + " " + path + ": " + std::strerror(errno));
        return false;
    }
    char buf[65536];
    std::size_t n = 0;
    bool tooLarge = false;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        text.append(buf, n);
        if (text.size() > SETUP_TEXT_MAX_SIZE) {
            tooLarge = true;
            break;
        }
    }
    const bool failed = std::ferror(f) != 0;
    const int readErrno = errno;
    if (f != stdin) std::fclose(f);
    if (failed) {
        ReportError(GetString(IDS_ERROR_OPENING_FILE) + " " + path + ": " + std::strerror(readErrno));
        return false;
    }
    if (tooLarge) {
        ReportError(path + ": " + GetString(IDS_TEXT_TOO_LARGE));
        return false;
    }
    return true;
}

int RunExport(const CCommandLine&, const CCommandLine& args) {
    const std::string& path = args.GetArgs()[0];
    CClockState state;
    if (!LoadOrReport(state, path)) return CTL_FAILED;
    const std::string text = SetupToText(*state.GetConfig());
    const std::string out = args.GetValue("output");
    if (out.empty() || out == "-") return WriteStdout(text) ? CTL_DONE : CTL_FAILED;
    try {
        WriteFileAtomically(out, text);
    } catch (const CFileError& e) {
        ReportError(FileErrorText(e));
        return CTL_FAILED;
    }
    return CTL_DONE;
}

int RunImport(const CCommandLine&, const CCommandLine& args) {
    const std::string out = args.GetValue("output");
    if (out.empty() || out == "-") return ReportUsage("import", "give the setup file to write with -o FILE");
    const std::string& path = args.GetArgs()[0];
    std::string text;
    if (!ReadText(path, text)) return CTL_FAILED;
    // Editors on other systems may begin UTF-8 text with a byte-order mark.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    CClockState state;
    std::string error;
    if (!SetupFromText(text, *state.GetConfig(), error)) {
        ReportError(path + ": " + error);
        return CTL_FAILED;
    }
    try {
        SaveConfigFile(state, out);
    } catch (const CFileError& e) {
        ReportError(FileErrorText(e));
        return CTL_FAILED;
    }
    return CTL_DONE;
}

}  // namespace

void AddTextCommands(std::vector<TCtlCommand>& table) {
    table.push_back({"export", "FILE [-o TEXT]", "Write a setup as editable text: one ITEM = VALUE line per item.",
                     "Each line gives an item by number with the value the setup tree shows, after a\n"
                     "comment with its label and the values it takes, grouped as the tree groups\n"
                     "them. A stored value that no text brings back exactly is written \"raw N\".\n"
                     "Record bits no item holds, when set, are written \"byte OFFSET = N\".\n"
                     "The text goes to standard output, or replaces TEXT.\n",
                     {{"output", 'o', "TEXT", "write the text to TEXT"}}, 1, 1, RunExport});
    table.push_back({"import", "TEXT -o FILE", "Make a setup file from the text export writes.",
                     "TEXT ('-' for standard input) must give every item once; '#' lines and blank\n"
                     "lines are skipped. A value is checked as set checks it. The first line that is\n"
                     "refused is named (\"line 12: ...\") and FILE is left untouched; a missing item\n"
                     "is refused too. Exporting FILE again gives the same values; importing an\n"
                     "export gives the very same setup file.\n",
                     {{"output", 'o', "FILE", "the setup file to write"}}, 1, 1, RunImport});
}
