#pragma once

#include <QtGlobal>

namespace zlt::platform {

// Whether the system's windows carry their title bar in their own style (Windows). Elsewhere (X11,
// Wayland) the window manager draws the frame, and callers ask the toolkit instead.
bool HasNativeTitleBar();

// The title bar of a native top-level window (its handle as the toolkit gives it), taken away or
// put back with the system's own window styles: the caption bits of the style change, the frame
// is recomputed and the window resized so that its client area keeps its size, neither moved nor
// raised. Only where HasNativeTitleBar(); throws when the system refuses.
void SetNativeTitleBar(quintptr AWindow, bool AVisible);

} // namespace zlt::platform
