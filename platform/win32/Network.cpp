#include "platform/Network.h"

#include <windows.h>
#include <wininet.h>

#include <atomic>

namespace zlt::platform {

namespace {

// -1: ask the system; 0 or 1: the answer a test fixed.
std::atomic<int> ForcedState{-1};

} // namespace

bool InternetGetConnectedState() {
    const int forced = ForcedState.load();
    if (forced >= 0) return forced == 1;
    DWORD flags = 0;
    return ::InternetGetConnectedState(&flags, 0) != FALSE;
}

void ForceConnectedState(std::optional<bool> AState) { ForcedState.store(AState ? (*AState ? 1 : 0) : -1); }

} // namespace zlt::platform
