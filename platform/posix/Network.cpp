#include "platform/Network.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

#include <atomic>
#include <memory>

namespace zlt::platform {

namespace {

// -1: ask the system; 0 or 1: the answer a test fixed.
std::atomic<int> ForcedState{-1};

struct TInterfaceListDeleter {
    void operator()(ifaddrs* AList) const noexcept { ::freeifaddrs(AList); }
};

} // namespace

bool InternetGetConnectedState() {
    const int forced = ForcedState.load();
    if (forced >= 0) return forced == 1;

    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return false;
    const std::unique_ptr<ifaddrs, TInterfaceListDeleter> owner(list);
    constexpr unsigned Wanted = IFF_UP | IFF_RUNNING;
    for (const ifaddrs* item = list; item != nullptr; item = item->ifa_next) {
        if (item->ifa_addr == nullptr) continue;
        const int family = item->ifa_addr->sa_family;
        if ((item->ifa_flags & Wanted) == Wanted && (item->ifa_flags & IFF_LOOPBACK) == 0 &&
            (family == AF_INET || family == AF_INET6))
            return true;
    }
    return false;
}

void ForceConnectedState(std::optional<bool> AState) { ForcedState.store(AState ? (*AState ? 1 : 0) : -1); }

} // namespace zlt::platform
