// The simulated clock's line inside the process, for the "SIM" port: no
// pseudo-terminal, no descriptor. The port's device is the near end of an
// in-memory line, the clock's serving thread the far end (see
// CSimLineServer::StartInProcess). Like the pseudo-terminal it stands in
// for, it keeps the line settings the program set, holds about 8 KiB each
// way, lets one device have it at a time, and hangs up when the clock stops.
#pragma once

#include <cstddef>
#include <mutex>

#include "LineSettings.h"
#include "MemoryLine.h"

class CSimInProcessLine {
public:
    static constexpr std::size_t BUFFER_SIZE = 8192;  // each way

    CSimInProcessLine();

    CMemoryLine& Bytes() { return m_bytes; }
    // One device at a time: false when another holds the line.
    bool Hold();
    void Release();
    // As the program set them, 9600 8N1 until it does; the clock hears the rate.
    TLineSettings Settings() const;
    void SetSettings(const TLineSettings& line);

private:
    CMemoryLine m_bytes;
    mutable std::mutex m_mutex;
    bool m_held = false;        // under m_mutex
    TLineSettings m_settings;   // under m_mutex
};
