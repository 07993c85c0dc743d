#include "SimClock.h"

CSimClock::CSimClock() {
    // Asked on the serving thread only, as the server's line descriptors are its own.
    m_protocol.SetLineRate([this] { return m_server.LineRate(); });
}
