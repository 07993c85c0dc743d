#include "MessageTarget.h"

#include <atomic>

namespace {
std::atomic<CMessageTarget*> g_mainTarget{nullptr};
}

void SetMainTarget(CMessageTarget* target) { g_mainTarget = target; }
CMessageTarget* GetMainTarget() { return g_mainTarget; }
