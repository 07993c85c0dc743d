// A terminal server's serial port through Telnet with Com Port Control
// (RFC 2217): BINARY both ways, SUPPRESS-GO-AHEAD and COM-PORT-OPTION are
// asked for at open; line settings, break and purges go to the server as
// Com Port commands. The line settings are kept here as set, so reading
// them back never waits on the server; the server's answers, when they come
// within a short bound, correct them. A server that never answers (as one
// on a pseudo-terminal does for the modem lines) is not waited for.
//
// The link's first round trip is the time from our option requests to the
// server's first answer to one of them.
#pragma once

#include <atomic>
#include <cstdint>

#include "NetDevice.h"
#include "TelnetStream.h"

class CRfc2217Device : public CNetDevice {
public:
    CRfc2217Device() = default;
    ~CRfc2217Device() override;

    bool SetBreak(bool on) override;
    // Said when the server refused Com Port Control: its settings stay its own.
    std::string OpenNotice() const override;

    // How long SetLineState waits for the server's answers.
    void SetAnswerWait(int ms) { m_answerWaitMs = ms; }
    // Whether the server took Com Port Control at open.
    bool HasComPort();

protected:
    bool Handshake(long long deadline) override;
    // A server that negotiated Telnet options with us serves us.
    bool HandshakeAccepts() const override { return true; }
    void Received(const unsigned char* bytes, std::size_t size, std::string& data) override;
    std::string Encode(const unsigned char* buf, std::size_t size) override;
    bool ApplyLineState(const TLineSettings& line) override;
    bool PurgeFar(bool input, bool output) override;

private:
    // One side of an option: asked for and not yet answered, or in effect.
    struct TOption {
        bool pending = false;
        bool enabled = false;
    };
    enum : unsigned { kAnswerBaud = 1, kAnswerSize = 2, kAnswerParity = 4, kAnswerStop = 8 };

    // Under m_stateMutex, on the I/O thread.
    void Handle(const Telnet::TEvent& event, std::string& reply);
    void HandleComPort(const std::vector<std::uint8_t>& payload);
    static bool Ours(std::uint8_t option);

    Telnet::CDecoder m_decoder;  // the I/O thread's alone
    // Under m_stateMutex:
    TOption m_us[256];    // options on our side (WILL / WONT)
    TOption m_them[256];  // options on the server's side (DO / DONT)
    bool m_comPortAnswered = false;
    long long m_askedAt = -1;     // when our requests went out (NowUs), -1: none asked
    long long m_answeredAt = -1;  // when the first of them was answered
    std::atomic<bool> m_comPort{false};  // mirrors m_us[COM-PORT].enabled
    unsigned m_awaiting = 0;  // answers still to come for the last settings
    bool m_sentControl = false;
    TLineSettings m_sentLine;  // the rate, data bits, parity and stop bits last asked for
    bool m_lineAnswered = false;  // ... and the server answered them all
    std::uint8_t m_sentFlow = 0, m_sentDtr = 0, m_sentRts = 0;
    int m_answerWaitMs = 1000;
};
