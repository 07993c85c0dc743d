// Stands in for a window handle: something that receives the private messages.
#pragma once

#include <cstdint>

class CMessageTarget {
public:
    virtual ~CMessageTarget() = default;
    // Synchronous: returns when the receiver has handled the message. May be
    // called from another thread; the receiver runs it on its own thread.
    // The window's port adapter is the exception for the reader's byte
    // counts and data: it batches them and returns at once (PortEvents.h).
    virtual std::intptr_t Send(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) = 0;
    // Queued: handled later on the receiver's thread.
    virtual void Post(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) = 0;
};
