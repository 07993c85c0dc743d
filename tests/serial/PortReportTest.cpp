// What the port leaves behind and says about its profile: the report of a
// failed open, pauses held to a sane length, refused stored settings.
#include <sys/stat.h>

#include <chrono>
#include <future>

#include "SerialTestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;

class PortReportTest : public CSerialTest {
protected:
    // Runs fn on a thread. A version that hangs on the pipe at path is set
    // free after a generous wait (its open is met from the other side), so
    // the test fails instead of hanging.
    static bool FinishesWithoutThePipe(const std::string& path, std::function<void()> fn) {
        auto done = std::async(std::launch::async, std::move(fn));
        if (done.wait_for(std::chrono::seconds(20)) == std::future_status::ready) return true;
        const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        done.wait();
        if (fd >= 0) ::close(fd);
        return false;
    }
};

TEST_F(PortReportTest, ReportIsNeverWrittenThroughALinkNorIntoAPipe) {
    // A link planted where the report goes: the file it names stays as it was.
    WriteWholeFile(m_dir.File("victim"), "keep");
    ASSERT_EQ(::symlink("victim", m_dir.File("commport_err.txt").c_str()), 0);
    auto port = MakeFakePort();
    m_fake->SetOpenError(ENOENT);
    EXPECT_FALSE(port->Open("/dev/ttyUSB7"));
    EXPECT_EQ(ReadWholeFile(m_dir.File("victim")), "keep");
    struct stat st {};
    ASSERT_EQ(::lstat(m_dir.File("commport_err.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));

    // A pipe nobody reads: the failed open still returns at once.
    ASSERT_EQ(::unlink(m_dir.File("commport_err.txt").c_str()), 0);
    ASSERT_EQ(::mkfifo(m_dir.File("commport_err.txt").c_str(), 0600), 0);
    bool opened = true;
    EXPECT_TRUE(FinishesWithoutThePipe(m_dir.File("commport_err.txt"), [&] { opened = port->Open("/dev/ttyUSB7"); }));
    EXPECT_FALSE(opened);

    // A plain file is replaced as before, and an old longer report is cut.
    ASSERT_EQ(::unlink(m_dir.File("commport_err.txt").c_str()), 0);
    WriteWholeFile(m_dir.File("commport_err.txt"), std::string(5000, 'x'));
    EXPECT_FALSE(port->Open("/dev/ttyUSB7"));
    const std::string report = ErrorFile();
    EXPECT_EQ(report.rfind("CreateFile\n", 0), 0u) << report;
    EXPECT_EQ(report.find('x'), std::string::npos);
}

TEST_F(PortReportTest, ReporterDecidesWhereTheReportGoes) {
    // As tarvelctl reports: the reason as text, no file.
    std::vector<std::string> reasons, texts;
    class CRecordingReporter : public CPortReporter {
    public:
        CRecordingReporter(std::vector<std::string>& reasons, std::vector<std::string>& texts)
            : CPortReporter([&texts](const std::string& t) { texts.push_back(t); }), m_reasons(reasons) {}
        void OpenFailed(const std::string& reason, const std::function<std::string()>&) override {
            m_reasons.push_back(reason);
        }

    private:
        std::vector<std::string>& m_reasons;
    } reporter(reasons, texts);
    auto fake = m_fake;
    CCommPort port(&reporter, [fake] { return fake; });
    port.SetVerbose(true);
    m_fake->SetOpenError(EACCES);
    EXPECT_FALSE(port.Open("/dev/ttyUSB7"));
    EXPECT_FALSE(std::filesystem::exists(m_dir.File("commport_err.txt")));
    ASSERT_EQ(reasons.size(), 1u);
    EXPECT_EQ(reasons[0].rfind("CreateFile\n", 0), 0u);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], reasons[0]);

    // Without a reporter nobody hears of it, and nothing is written.
    CCommPort silent(nullptr, [fake] { return fake; });
    silent.SetVerbose(true);
    EXPECT_FALSE(silent.Open("/dev/ttyUSB7"));
    EXPECT_FALSE(std::filesystem::exists(m_dir.File("commport_err.txt")));
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(PortReportTest, HugeWriteTimeOutIsHeldToAFewSecondsAndToldOnce) {
    // The profile tells of the clamp through the prompt hook, not the port.
    CCapturedNotices notices;
    // Days, as an edited profile may ask for.
    WriteProfileInt("Communication", "WriteTimeOut", 2000000000);
    auto port = MakeFakePort();
    m_fake->SetSendBuffer(1);  // the line takes next to nothing, and nobody reads it
    ASSERT_TRUE(port->Open("/dev/ttyUSB7"));
    const std::vector<unsigned char> bytes(1 << 20, 'x');
    const auto start = Clock::now();
    EXPECT_FALSE(port->Write(bytes.data(), static_cast<unsigned>(bytes.size())));
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_GE(waited, MAX_PROFILE_DELAY_MS - 50);
    EXPECT_LT(waited, 60000);

    // Told once, at the open, naming the key; not again for each write.
    ASSERT_EQ(notices.notices.size(), 1u);
    EXPECT_NE(notices.notices[0].find("WriteTimeOut=2000000000"), std::string::npos) << notices.notices[0];
    EXPECT_NE(notices.notices[0].find("5000 ms is used"), std::string::npos) << notices.notices[0];
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(PortReportTest, RefusedStoredStopBitsNameTheKeyAndTheChoices) {
    WriteProfileInt("Debug", "Verbose", 1);
    WriteProfileInt("Communication", "AutoOpen", 1);
    WriteProfileString("Communication", "CommPort", "/dev/ttyUSB3");
    WriteProfileString("Communication", "StopLength", "3");
    auto port = MakeFakePort();
    EXPECT_FALSE(port->IsOpen());
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_NE(m_boxes[0].find("StopLength=3"), std::string::npos) << m_boxes[0];
    EXPECT_NE(m_boxes[0].find("one of 1, 2."), std::string::npos) << m_boxes[0];
}

}  // namespace
