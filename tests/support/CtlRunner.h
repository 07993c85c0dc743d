// Runs the built tarvelctl for the tests: its own profile folder
// (XDG_CONFIG_HOME) and working folder, standard output and error captured.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

struct TCtlResult {
    int status = -1;   // exit status; -1 when killed or not run
    int signal = 0;    // the signal that ended it, if any
    std::string out;
    std::string err;
};

class CCtlRunner {
public:
    // dir: the working folder; the profile is dir/config/tarvel.INI.
    explicit CCtlRunner(std::string dir);
    static bool Available();  // false when tarvelctl was not built

    // Standard error on a pseudo-terminal (raw: no line-end translation)
    // instead of a file, as when a user runs tarvelctl at a terminal.
    void SetStderrTerminal(bool on) { m_stderrTerminal = on; }
    // The largest file the run may write, in 512-byte blocks (0: no limit);
    // beyond it writes fail as on a full disk.
    void SetFileSizeLimit(int blocks) { m_fileBlocks = blocks; }
    // Standard input from a file instead of /dev/null.
    void SetStdin(std::string path) { m_stdin = std::move(path); }
    // Standard output to a file, not captured (e.g. /dev/full); empty: captured.
    void SetStdout(std::string path) { m_stdout = std::move(path); }
    // Standard output captured through a pipe instead of a file.
    void SetStdoutPipe(bool on) { m_stdoutPipe = on; }
    // The working folder of the runs (default: dir).
    void SetWorkDir(std::string path) { m_workDir = std::move(path); }
    // One more variable for the runs' environment, replacing an inherited one.
    void SetEnv(const std::string& name, const std::string& value) { m_env[name] = value; }

    std::string ProfilePath() const { return m_dir + "/config/tarvel.INI"; }
    void WriteProfile(const std::string& text);

    pid_t Start(const std::vector<std::string>& args);
    // Runs may overlap; each has its own captured output. Waits up to
    // timeoutMs for the run's standard error to hold every text.
    bool WaitForErr(pid_t pid, const std::vector<std::string>& texts, int timeoutMs = 20000) const;
    // Waits up to timeoutMs; a run still going then is killed and reported
    // with status -1 and hung set.
    TCtlResult Finish(pid_t pid, int timeoutMs = 60000, bool* hung = nullptr);
    TCtlResult Run(const std::vector<std::string>& args, int timeoutMs = 60000, bool* hung = nullptr) {
        return Finish(Start(args), timeoutMs, hung);
    }

private:
    std::string m_dir, m_workDir, m_stdin = "/dev/null", m_stdout;
    std::map<std::string, std::string> m_env;
    bool m_stderrTerminal = false, m_stdoutPipe = false;
    int m_fileBlocks = 0;
    int m_terminal = -1;  // the pseudo-terminal's master while a run goes on
    int m_pipe = -1;      // the standard output pipe's reading end, likewise
    int m_seq = 0;
    std::map<pid_t, std::string> m_runs;  // each run's suffix to .ctl-out and .ctl-err
};

// A digest of a file's bytes (FNV-1a), "missing" when it cannot be read:
// enough to tell whether a file changed.
std::string FileDigest(const std::string& path);
