#include "Rfc2217Device.h"

#include <cerrno>
#include <chrono>

#include "Resource.h"
#include "StringTable.h"
#include "TextUtil.h"

using namespace Telnet;

CRfc2217Device::~CRfc2217Device() { Close(); }

bool CRfc2217Device::Ours(std::uint8_t option) {
    return option == OPT_BINARY || option == OPT_SGA || option == OPT_COM_PORT;
}

bool CRfc2217Device::HasComPort() { return m_comPort; }

bool CRfc2217Device::Handshake(long long deadline) {
    std::unique_lock<std::mutex> lock(m_stateMutex);
    // The server may have asked first: what it already agreed to is not asked again.
    std::string request;
    for (std::uint8_t option : {OPT_BINARY, OPT_SGA, OPT_COM_PORT}) {
        if (!m_us[option].enabled && !m_us[option].pending) {
            m_us[option].pending = true;
            request += Command(WILL, option);
        }
    }
    for (std::uint8_t option : {OPT_BINARY, OPT_SGA}) {
        if (!m_them[option].enabled && !m_them[option].pending) {
            m_them[option].pending = true;
            request += Command(DO, option);
        }
    }
    // The first answer to these requests is the link's first round trip.
    m_askedAt = request.empty() ? -1 : NowUs();
    m_answeredAt = -1;
    if (!SendRaw(request)) return false;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0LL, deadline - NowMs()));
    m_stateChanged.wait_until(lock, until, [this] { return m_comPortAnswered || m_gone != 0; });
    if (m_askedAt >= 0 && m_answeredAt >= 0) SetOpeningRoundTrip(m_answeredAt - m_askedAt);
    if (const int gone = m_gone) {
        errno = gone;
        return false;
    }
    if (!m_comPortAnswered) {
        // Not a Telnet server at all: our requests would reach the clock as data.
        errno = EPROTO;
        return false;
    }
    return true;
}

void CRfc2217Device::Received(const unsigned char* bytes, std::size_t size, std::string& data) {
    std::vector<TEvent> events;
    m_decoder.Feed(bytes, size, data, events);
    if (events.empty()) return;
    std::string reply;
    std::lock_guard<std::mutex> lock(m_stateMutex);
    for (const TEvent& event : events) Handle(event, reply);
    m_decoder.SetBinaryIn(m_them[OPT_BINARY].enabled);
    if (!reply.empty()) SendRaw(reply);  // a failure shows on the next read
    m_stateChanged.notify_all();
}

// The usual Telnet option rules: an answer to our own request is not
// answered again, and only a change of state is acknowledged, so two sides
// never loop.
void CRfc2217Device::Handle(const TEvent& event, std::string& reply) {
    const std::uint8_t option = event.option;
    const bool verb = event.verb == DO || event.verb == DONT || event.verb == WILL || event.verb == WONT;
    const TOption& side = event.verb == DO || event.verb == DONT ? m_us[option] : m_them[option];
    if (verb && side.pending && m_askedAt >= 0 && m_answeredAt < 0) m_answeredAt = NowUs();
    switch (event.verb) {
    case DO: {
        TOption& us = m_us[option];
        if (us.pending) {
            us.pending = false;
            us.enabled = true;
        } else if (!us.enabled) {
            if (Ours(option)) {
                us.enabled = true;
                reply += Command(WILL, option);
            } else {
                reply += Command(WONT, option);
            }
        }
        if (option == OPT_COM_PORT) m_comPortAnswered = true;
        break;
    }
    case DONT: {
        TOption& us = m_us[option];
        if (us.pending) {
            us.pending = false;
            us.enabled = false;
        } else if (us.enabled) {
            us.enabled = false;
            reply += Command(WONT, option);
        }
        if (option == OPT_COM_PORT) m_comPortAnswered = true;
        break;
    }
    case WILL: {
        TOption& them = m_them[option];
        if (them.pending) {
            them.pending = false;
            them.enabled = true;
        } else if (!them.enabled) {
            // The server's side of COM-PORT-OPTION means nothing to a client.
            if (option == OPT_BINARY || option == OPT_SGA) {
                them.enabled = true;
                reply += Command(DO, option);
            } else {
                reply += Command(DONT, option);
            }
        }
        break;
    }
    case WONT: {
        TOption& them = m_them[option];
        if (them.pending) {
            them.pending = false;
            them.enabled = false;
        } else if (them.enabled) {
            them.enabled = false;
            reply += Command(DONT, option);
        }
        break;
    }
    case SB:
        if (option == OPT_COM_PORT) HandleComPort(event.payload);
        break;
    default:
        break;
    }
    m_comPort = m_us[OPT_COM_PORT].enabled;
}

// The server's answers to our settings: what its line really took.
void CRfc2217Device::HandleComPort(const std::vector<std::uint8_t>& payload) {
    if (payload.empty() || payload[0] <= CPC_SERVER_OFFSET) return;
    const unsigned command = payload[0] - CPC_SERVER_OFFSET;
    const std::size_t n = payload.size();
    switch (command) {
    case CPC_SET_BAUDRATE:
        if (n >= 5) {
            const std::uint32_t rate = (std::uint32_t{payload[1]} << 24) | (std::uint32_t{payload[2]} << 16) |
                                       (std::uint32_t{payload[3]} << 8) | payload[4];
            if (rate) m_line.rate = rate;
            m_awaiting &= ~kAnswerBaud;
        }
        break;
    case CPC_SET_DATASIZE:
        if (n >= 2) {
            if (payload[1] >= 5 && payload[1] <= 8) m_line.dataBits = payload[1];
            m_awaiting &= ~kAnswerSize;
        }
        break;
    case CPC_SET_PARITY:
        if (n >= 2) {
            if (payload[1] >= CPC_PARITY_NONE && payload[1] <= CPC_PARITY_SPACE) {
                static const TParity kParity[] = {TParity::None, TParity::Odd, TParity::Even, TParity::Mark,
                                                  TParity::Space};
                m_line.parity = kParity[payload[1] - CPC_PARITY_NONE];
            }
            m_awaiting &= ~kAnswerParity;
        }
        break;
    case CPC_SET_STOPSIZE:
        if (n >= 2) {
            if (payload[1] == CPC_STOP_1) m_line.stopBits = TStopBits::One;
            if (payload[1] == CPC_STOP_2) m_line.stopBits = TStopBits::Two;
            if (payload[1] == CPC_STOP_15) m_line.stopBits = TStopBits::OneAndHalf;
            m_awaiting &= ~kAnswerStop;
        }
        break;
    default:
        break;
    }
}

std::string CRfc2217Device::Encode(const unsigned char* buf, std::size_t size) { return Escape(buf, size); }

bool CRfc2217Device::ApplyLineState(const TLineSettings& line) {
    std::unique_lock<std::mutex> lock(m_stateMutex);
    // The line as the server answered it last time stays when the same is
    // asked again: each setting costs a round trip, far away a long one.
    const bool sameLine = m_lineAnswered && line.rate == m_sentLine.rate && line.dataBits == m_sentLine.dataBits &&
                          line.parity == m_sentLine.parity && line.stopBits == m_sentLine.stopBits;
    const TLineSettings answered = m_line;
    m_line = line;
    if (!m_us[OPT_COM_PORT].enabled) return true;
    if (sameLine) {
        m_line.rate = answered.rate;
        m_line.dataBits = answered.dataBits;
        m_line.parity = answered.parity;
        m_line.stopBits = answered.stopBits;
    }

    static const std::uint8_t kParity[] = {CPC_PARITY_NONE, CPC_PARITY_ODD, CPC_PARITY_EVEN, CPC_PARITY_MARK,
                                           CPC_PARITY_SPACE};
    static const std::uint8_t kStop[] = {CPC_STOP_1, CPC_STOP_15, CPC_STOP_2};
    std::string request;
    if (!sameLine) {
        // In range: SetLineState refused any other.
        request = ComPortBaud(line.rate);
        request += ComPort(CPC_SET_DATASIZE, line.dataBits);
        request += ComPort(CPC_SET_PARITY, kParity[static_cast<unsigned>(line.parity)]);
        request += ComPort(CPC_SET_STOPSIZE, kStop[static_cast<unsigned>(line.stopBits)]);
    }
    // Flow control and the modem lines only when they change: a server on a
    // pseudo-terminal has none of them and does not answer.
    const std::uint8_t flow = (line.ctsOutFlow || line.rts == TRtsMode::Handshake) ? CPC_FLOW_HARDWARE
                              : (line.xonOut || line.xonIn)                          ? CPC_FLOW_XONXOFF
                                                                                     : CPC_FLOW_NONE;
    const std::uint8_t dtr = line.dtr == TDtrMode::Off ? CPC_DTR_OFF : CPC_DTR_ON;
    const std::uint8_t rts = line.rts == TRtsMode::Off ? CPC_RTS_OFF : CPC_RTS_ON;
    if (!m_sentControl || flow != m_sentFlow) request += ComPort(CPC_SET_CONTROL, flow);
    if (!m_sentControl || dtr != m_sentDtr) request += ComPort(CPC_SET_CONTROL, dtr);
    if (flow != CPC_FLOW_HARDWARE && (!m_sentControl || rts != m_sentRts)) request += ComPort(CPC_SET_CONTROL, rts);
    m_sentControl = true;
    m_sentFlow = flow;
    m_sentDtr = dtr;
    m_sentRts = rts;
    if (request.empty()) return true;
    if (sameLine) return SendRaw(request);
    m_awaiting = kAnswerBaud | kAnswerSize | kAnswerParity | kAnswerStop;
    m_sentLine = line;
    if (!SendRaw(request)) return false;
    // The answers correct what is kept; without them what was set stands.
    m_lineAnswered = m_stateChanged.wait_for(lock, std::chrono::milliseconds(m_answerWaitMs),
                                             [this] { return m_awaiting == 0 || m_gone != 0; }) &&
                     m_gone == 0;
    return true;
}

bool CRfc2217Device::SetBreak(bool on) {
    if (!IsOpen()) {
        errno = EBADF;
        return false;
    }
    if (!m_comPort) return true;
    return SendRaw(ComPort(CPC_SET_CONTROL, on ? CPC_BREAK_ON : CPC_BREAK_OFF));
}

bool CRfc2217Device::PurgeFar(bool input, bool output) {
    if (!m_comPort) return true;
    return SendRaw(ComPort(CPC_PURGE_DATA, input && output ? CPC_PURGE_BOTH : input ? CPC_PURGE_RX : CPC_PURGE_TX));
}

std::string CRfc2217Device::OpenNotice() const {
    if (m_comPort) return std::string();
    const std::string host = Name().host.find(':') != std::string::npos ? "[" + Name().host + "]" : Name().host;
    return FormatString(GetString(IDS_NET_NO_COM_PORT).c_str(), ("rfc2217://" + host + ":" + Name().port).c_str());
}
