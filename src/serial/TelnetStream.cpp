#include "TelnetStream.h"

namespace Telnet {

void CDecoder::StartCommand(std::uint8_t c) {
    if (c == DO || c == DONT || c == WILL || c == WONT) {
        m_verb = c;
        m_state = TState::Verb;
    } else if (c == SB) {
        m_state = TState::SbOption;
    } else {
        // NOP, GA, AYT and the like carry nothing for a serial line.
        m_state = TState::Data;
    }
}

void CDecoder::Feed(const std::uint8_t* data, std::size_t size, std::string& out, std::vector<TEvent>& events) {
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t c = data[i];
        switch (m_state) {
        case TState::AfterCr:
            m_state = TState::Data;
            if (c == 0) break;
            [[fallthrough]];
        case TState::Data:
            if (c == IAC) {
                m_state = TState::Iac;
            } else {
                out += static_cast<char>(c);
                if (c == '\r' && !m_binaryIn) m_state = TState::AfterCr;
            }
            break;
        case TState::Iac:
            if (c == IAC) {
                out += static_cast<char>(IAC);
                m_state = TState::Data;
            } else {
                StartCommand(c);
            }
            break;
        case TState::Verb:
            events.push_back(TEvent{m_verb, c, {}});
            m_state = TState::Data;
            break;
        case TState::SbOption:
            m_sb = TEvent{SB, c, {}};
            m_sbOverflow = false;
            m_state = TState::SbData;
            break;
        case TState::SbData:
            if (c == IAC) {
                m_state = TState::SbIac;
            } else if (m_sb.payload.size() < kMaxSubnegotiation) {
                m_sb.payload.push_back(c);
            } else {
                m_sbOverflow = true;
            }
            break;
        case TState::SbIac:
            if (c == IAC) {
                if (m_sb.payload.size() < kMaxSubnegotiation)
                    m_sb.payload.push_back(IAC);
                else
                    m_sbOverflow = true;
                m_state = TState::SbData;
            } else if (c == SE) {
                // A cut subnegotiation would be read wrongly: dropped whole.
                if (!m_sbOverflow) events.push_back(std::move(m_sb));
                m_sb = TEvent{};
                m_state = TState::Data;
            } else {
                // A command inside a subnegotiation ends it unfinished (a
                // server that broke off); what it started is dropped.
                m_sb = TEvent{};
                StartCommand(c);
            }
            break;
        }
    }
}

std::string Escape(const std::uint8_t* data, std::size_t size) {
    std::string out;
    out.reserve(size + 8);
    for (std::size_t i = 0; i < size; ++i) {
        out += static_cast<char>(data[i]);
        if (data[i] == IAC) out += static_cast<char>(IAC);
    }
    return out;
}

std::string Command(std::uint8_t verb, std::uint8_t option) {
    return std::string{static_cast<char>(IAC), static_cast<char>(verb), static_cast<char>(option)};
}

std::string Subnegotiation(std::uint8_t option, const std::vector<std::uint8_t>& payload) {
    std::string out{static_cast<char>(IAC), static_cast<char>(SB), static_cast<char>(option)};
    out += Escape(payload.data(), payload.size());
    out += static_cast<char>(IAC);
    out += static_cast<char>(SE);
    return out;
}

std::string ComPort(std::uint8_t command, std::uint8_t value) {
    return Subnegotiation(OPT_COM_PORT, {command, value});
}

std::string ComPortBaud(std::uint32_t rate) {
    return Subnegotiation(OPT_COM_PORT, {CPC_SET_BAUDRATE, static_cast<std::uint8_t>(rate >> 24),
                                         static_cast<std::uint8_t>(rate >> 16), static_cast<std::uint8_t>(rate >> 8),
                                         static_cast<std::uint8_t>(rate)});
}

}  // namespace Telnet
