#include "PortReporter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace {

// The file sits in whatever folder the program was started from.
void WriteErrorFile(const char* name, const std::string& report) {
    const int fd = ::open(name, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) return;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::ftruncate(fd, 0) == 0) {
        const char* data = report.data();
        std::size_t left = report.size();
        while (left > 0) {
            const ssize_t n = ::write(fd, data, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            data += n;
            left -= static_cast<std::size_t>(n);
        }
    }
    ::close(fd);
}

}  // namespace

CPortReporter::CPortReporter(TextHandler showError, StateHandler stateChanged, TextHandler notice)
    : m_showError(std::move(showError)), m_stateChanged(std::move(stateChanged)), m_notice(std::move(notice)) {}

void CPortReporter::OpenFailed(const std::string&, const std::function<std::string()>&) {}

void CPortReporter::ShowError(const std::string& text) {
    if (m_showError) m_showError(text);
}

void CPortReporter::PortStateChanged() {
    if (m_stateChanged) m_stateChanged();
}

void CPortReporter::Notice(const std::string& text) {
    if (m_notice) m_notice(text);
}

void CErrorFileReporter::OpenFailed(const std::string&, const std::function<std::string()>& report) {
    if (report) WriteErrorFile(FILE_NAME, report());
}
