// The byte stream of a Telnet connection with the Com Port Control option
// (RFC 854, RFC 2217), without the socket: fed blocks as they arrive, it
// separates the serial data from option commands and subnegotiations, and
// builds the bytes to send. Pure and single-threaded; the network device
// feeds it under its own lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Telnet {

constexpr std::uint8_t IAC = 255;
constexpr std::uint8_t DONT = 254;
constexpr std::uint8_t DO = 253;
constexpr std::uint8_t WONT = 252;
constexpr std::uint8_t WILL = 251;
constexpr std::uint8_t SB = 250;
constexpr std::uint8_t SE = 240;

constexpr std::uint8_t OPT_BINARY = 0;
constexpr std::uint8_t OPT_SGA = 3;
constexpr std::uint8_t OPT_COM_PORT = 44;

// Com Port Control commands, client to server; the server answers with 100 added.
constexpr std::uint8_t CPC_SET_BAUDRATE = 1;
constexpr std::uint8_t CPC_SET_DATASIZE = 2;
constexpr std::uint8_t CPC_SET_PARITY = 3;
constexpr std::uint8_t CPC_SET_STOPSIZE = 4;
constexpr std::uint8_t CPC_SET_CONTROL = 5;
constexpr std::uint8_t CPC_PURGE_DATA = 12;
constexpr std::uint8_t CPC_SERVER_OFFSET = 100;

// SET-PARITY values
constexpr std::uint8_t CPC_PARITY_NONE = 1;
constexpr std::uint8_t CPC_PARITY_ODD = 2;
constexpr std::uint8_t CPC_PARITY_EVEN = 3;
constexpr std::uint8_t CPC_PARITY_MARK = 4;
constexpr std::uint8_t CPC_PARITY_SPACE = 5;
// SET-STOPSIZE values
constexpr std::uint8_t CPC_STOP_1 = 1;
constexpr std::uint8_t CPC_STOP_2 = 2;
constexpr std::uint8_t CPC_STOP_15 = 3;
// SET-CONTROL values
constexpr std::uint8_t CPC_FLOW_NONE = 1;
constexpr std::uint8_t CPC_FLOW_XONXOFF = 2;
constexpr std::uint8_t CPC_FLOW_HARDWARE = 3;
constexpr std::uint8_t CPC_BREAK_ON = 5;
constexpr std::uint8_t CPC_BREAK_OFF = 6;
constexpr std::uint8_t CPC_DTR_ON = 8;
constexpr std::uint8_t CPC_DTR_OFF = 9;
constexpr std::uint8_t CPC_RTS_ON = 11;
constexpr std::uint8_t CPC_RTS_OFF = 12;
// PURGE-DATA values
constexpr std::uint8_t CPC_PURGE_RX = 1;
constexpr std::uint8_t CPC_PURGE_TX = 2;
constexpr std::uint8_t CPC_PURGE_BOTH = 3;

// A subnegotiation longer than this is cut: nothing we take needs more.
constexpr std::size_t kMaxSubnegotiation = 64;

// An option command or a whole subnegotiation seen in the stream.
struct TEvent {
    std::uint8_t verb = 0;    // DO, DONT, WILL, WONT or SB
    std::uint8_t option = 0;
    std::vector<std::uint8_t> payload;  // SB only: unescaped, at most kMaxSubnegotiation bytes
};

class CDecoder {
public:
    // Appends the serial data in data[0..size) to out and the commands
    // completed in it to events. A command split across blocks completes in
    // a later call. Bytes that make no sense are dropped, never kept.
    void Feed(const std::uint8_t* data, std::size_t size, std::string& out, std::vector<TEvent>& events);
    // Without BINARY from the server, a CR is sent as CR NUL: the NUL is dropped.
    void SetBinaryIn(bool binary) { m_binaryIn = binary; }
    void Reset() { *this = CDecoder(); }

private:
    // What follows an IAC that is not a doubled 0xFF.
    void StartCommand(std::uint8_t c);

    enum class TState { Data, Iac, Verb, SbOption, SbData, SbIac, AfterCr };
    TState m_state = TState::Data;
    std::uint8_t m_verb = 0;
    TEvent m_sb;
    bool m_sbOverflow = false;
    bool m_binaryIn = false;
};

// IAC doubled.
std::string Escape(const std::uint8_t* data, std::size_t size);
// IAC verb option.
std::string Command(std::uint8_t verb, std::uint8_t option);
// IAC SB option payload (escaped) IAC SE.
std::string Subnegotiation(std::uint8_t option, const std::vector<std::uint8_t>& payload);
// A Com Port Control command with a one-byte or a four-byte (network order) value.
std::string ComPort(std::uint8_t command, std::uint8_t value);
std::string ComPortBaud(std::uint32_t rate);

}  // namespace Telnet
