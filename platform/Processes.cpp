#include "platform/Processes.h"

#include <utility>

namespace zlt::platform {

namespace {
TProcessSnapshotHook& SnapshotHook() {
    static TProcessSnapshotHook hook;
    return hook;
}
} // namespace

std::optional<std::vector<TProcessEntry>> TakeProcessSnapshot() {
    if (const TProcessSnapshotHook& hook = SnapshotHook()) return hook();
    return CreateProcessSnapshot();
}

TProcessSnapshotHook SetProcessSnapshotHook(TProcessSnapshotHook AHook) {
    return std::exchange(SnapshotHook(), std::move(AHook));
}

} // namespace zlt::platform
