// The line trace: every byte the port writes and reads, on its own lines, and
// nothing lost or made up, also for what the reader thread delivers.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "LineTrace.h"
#include "SerialTestSupport.h"

namespace {

struct TTraced {
    std::string sent, received;
    std::size_t lines = 0, breaks = 0, cut = 0;
    bool wellFormed = true;
    bool timesInOrder = true;
};

// "12345.678 > ..." split into time, direction and the rest; false for any
// other shape. By hand: std::regex recurses once per character and overflows
// the stack on a long line.
bool SplitLine(const std::string& line, std::string& time, char& direction, std::string& rest) {
    const std::size_t space = line.find(' ');
    if (space == std::string::npos || space + 2 >= line.size() || line[space + 2] != ' ') return false;
    time = line.substr(0, space);
    const std::size_t dot = time.find('.');
    if (dot == std::string::npos || dot == 0 || time.size() - dot - 1 != 3) return false;
    for (std::size_t i = 0; i < time.size(); ++i)
        if (i != dot && (time[i] < '0' || time[i] > '9')) return false;
    direction = line[space + 1];
    if (direction != '<' && direction != '>' && direction != '-') return false;
    rest = line.substr(space + 3);
    return true;
}

// Reads a trace back into the bytes of each direction.
TTraced ParseTrace(const std::string& text) {
    TTraced t;
    double last = -1;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        ++t.lines;
        std::string time, rest;
        char direction = 0;
        if (!SplitLine(line, time, direction, rest)) {
            t.wellFormed = false;
            continue;
        }
        const double at = std::stod(time);
        if (at < last) t.timesInOrder = false;
        last = at;
        if (direction == '-') {
            if (rest == "break") ++t.breaks;
            else ++t.cut;
            continue;
        }
        std::string bytes;
        if (!CLineTrace::DecodeBytes(rest, bytes) || bytes.empty()) t.wellFormed = false;
        (direction == '>' ? t.sent : t.received) += bytes;
    }
    return t;
}

std::string AllByteValues() {
    std::string s;
    for (int i = 0; i < 256; ++i) s += static_cast<char>(i);
    return s;
}

// Every byte value, over and over, in a stream no period of the reads repeats.
std::string Pattern(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 13 + i / 257) & 0xFF);
    return s;
}

class LineTraceTest : public CSerialTest {};

TEST_F(LineTraceTest, EveryByteWrittenAndReadIsOnItsLines) {
    std::string reason;
    auto trace = CLineTrace::Open(m_dir.File("line.trace"), reason);
    ASSERT_TRUE(trace) << reason;
    auto port = MakeFakePort();
    port->SetTrace(trace);
    ASSERT_TRUE(port->Open("/dev/fake0"));

    const std::string command = "1,K201XR";
    const std::string records = ":10000000<ABC>\r\n" + AllByteValues();
    ASSERT_TRUE(port->Write(reinterpret_cast<const unsigned char*>(command.data()), command.size()));
    ASSERT_TRUE(port->SendBreak());
    ASSERT_TRUE(port->Write(reinterpret_cast<const unsigned char*>(records.data()), records.size()));

    // The clock's answer in three bursts, read in pieces smaller than a burst.
    const std::string answer = "1,K201XT" + AllByteValues() + "<0D>";
    ASSERT_TRUE(m_fake->PeerWrite(answer.substr(0, 5)));
    std::string took;
    unsigned char buf[37];
    for (int tries = 0; tries < 2000 && took.size() < answer.size(); ++tries) {
        if (tries == 1) {
            ASSERT_TRUE(m_fake->PeerWrite(answer.substr(5, 100)));
        }
        if (tries == 2) {
            ASSERT_TRUE(m_fake->PeerWrite(answer.substr(105)));
        }
        unsigned n = sizeof buf;
        ASSERT_TRUE(port->Read(buf, n));
        took.append(reinterpret_cast<char*>(buf), n);
        if (n == 0) SleepMs(5);
    }
    ASSERT_EQ(took, answer);
    port->Close();

    const TTraced t = ParseTrace(ReadWholeFile(m_dir.File("line.trace")));
    EXPECT_TRUE(t.wellFormed);
    EXPECT_TRUE(t.timesInOrder);
    EXPECT_EQ(t.sent, command + records);
    EXPECT_EQ(t.received, took);
    EXPECT_EQ(t.breaks, 1u);
    EXPECT_EQ(t.cut, 0u);
    // Printable text stays readable; '<' itself cannot pass for a hex byte.
    const std::string text = ReadWholeFile(m_dir.File("line.trace"));
    EXPECT_NE(text.find(" > 1,K201XR\n"), std::string::npos) << text;
    EXPECT_NE(text.find(":10000000<3C>ABC><0D><0A>"), std::string::npos) << text;
}

TEST_F(LineTraceTest, WhatTheReaderThreadDeliversIsTraced) {
    CPseudoTerminal pty;
    ASSERT_TRUE(pty.Ok());
    std::string reason;
    auto trace = CLineTrace::Open(m_dir.File("reader.trace"), reason);
    ASSERT_TRUE(trace) << reason;
    CCommPort port(&m_reporter);
    port.SetTrace(trace);
    ASSERT_TRUE(port.Open(pty.Path()));
    CRecordingTarget console;
    port.ReadStart(&console);
    const std::string stream = Pattern(64 * 1024);
    std::thread writer([&] { pty.Send(stream); });
    const bool all = console.WaitForData(stream.size(), 30000);
    writer.join();
    port.ReadStop();
    ASSERT_TRUE(all);

    const TTraced t = ParseTrace(ReadWholeFile(m_dir.File("reader.trace")));
    EXPECT_TRUE(t.wellFormed);
    EXPECT_TRUE(t.received == console.Data());
    EXPECT_EQ(t.lines, console.Blocks().size());
}

TEST_F(LineTraceTest, AFullTraceEndsWithALineSayingItWasCut) {
    std::string reason;
    constexpr std::size_t kLimit = 1000;
    auto trace = CLineTrace::Open(m_dir.File("small.trace"), reason, kLimit);
    ASSERT_TRUE(trace) << reason;
    const std::string block(60, 'x');
    for (int i = 0; i < 100; ++i) trace->Sent(reinterpret_cast<const unsigned char*>(block.data()), block.size());
    trace.reset();

    const std::string text = ReadWholeFile(m_dir.File("small.trace"));
    const TTraced t = ParseTrace(text);
    EXPECT_TRUE(t.wellFormed);
    EXPECT_EQ(t.cut, 1u);
    EXPECT_NE(text.rfind(" - trace cut here"), std::string::npos);
    EXPECT_EQ(text.back(), '\n');
    EXPECT_LE(text.size(), kLimit + 120);
    EXPECT_GT(t.sent.size(), kLimit / 2);
    EXPECT_EQ(t.sent.size() % block.size(), 0u);  // whole lines only
}

TEST_F(LineTraceTest, APipeOrAFolderIsRefusedAtOnceAndAnOldTraceIsEmptied) {
    const std::string fifo = m_dir.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string reason;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(CLineTrace::Open(fifo, reason));
    EXPECT_FALSE(reason.empty());
    EXPECT_FALSE(CLineTrace::Open(m_dir.Path(), reason));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

    // A link of ours is followed; what was there before is replaced.
    WriteWholeFile(m_dir.File("old.trace"), std::string(5000, 'o'));
    ASSERT_EQ(::symlink("old.trace", m_dir.File("link.trace").c_str()), 0);
    auto trace = CLineTrace::Open(m_dir.File("link.trace"), reason);
    ASSERT_TRUE(trace) << reason;
    trace->Received(reinterpret_cast<const unsigned char*>("ok"), 2);
    trace.reset();
    const TTraced t = ParseTrace(ReadWholeFile(m_dir.File("old.trace")));
    EXPECT_TRUE(t.wellFormed);
    EXPECT_EQ(t.received, "ok");
    EXPECT_EQ(t.lines, 1u);
}

}  // namespace
