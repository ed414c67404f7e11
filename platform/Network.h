#pragma once

#include <optional>

namespace zlt::platform {

// Whether the machine has a network connection: some interface besides loopback is up and
// has an address. Never throws.
bool InternetGetConnectedState();

// Tests may fix the answer; nullopt returns to asking the system.
void ForceConnectedState(std::optional<bool> AState);

} // namespace zlt::platform
