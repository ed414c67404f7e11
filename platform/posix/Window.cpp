#include "platform/Window.h"

#include "platform/Exception.h"

namespace zlt::platform {

bool HasNativeTitleBar() { return false; }

void SetNativeTitleBar(quintptr, bool) {
    throw Exception(QStringLiteral("This system's windows have no title bar of their own"));
}

} // namespace zlt::platform
