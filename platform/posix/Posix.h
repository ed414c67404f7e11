#pragma once

// Helpers shared by the POSIX implementations; never included outside platform/posix/.

#include "platform/Handle.h"

#include <QString>

namespace zlt::platform::posix {

// The descriptor of a handle, and a handle for a descriptor (-1 stays invalid).
inline int Fd(const TUniqueHandle& AHandle) noexcept { return static_cast<int>(AHandle.Get()); }
inline TUniqueHandle Own(int AFd) noexcept { return TUniqueHandle(AFd < 0 ? InvalidHandle : TNativeHandle{AFd}); }

// The system's text for an errno value.
QString SystemErrorText(int AError);

} // namespace zlt::platform::posix
