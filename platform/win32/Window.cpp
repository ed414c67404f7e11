#include "platform/Window.h"

#include "platform/Exception.h"
#include "platform/win32/Win32.h"

namespace zlt::platform {

namespace {

[[noreturn]] void Refused(const char* ACall) {
    throw Exception(QStringLiteral("%1 failed: %2").arg(QLatin1String(ACall), win32::SystemErrorText(GetLastError())));
}

} // namespace

bool HasNativeTitleBar() { return true; }

void SetNativeTitleBar(quintptr AWindow, bool AVisible) {
    const auto window = reinterpret_cast<HWND>(AWindow);
    if (window == nullptr || IsWindow(window) == FALSE)
        throw Exception(QStringLiteral("No window has the handle 0x%1").arg(AWindow, 0, 16));
    // WS_CAPTION is 0x00C00000: the title bar with its border.
    SetLastError(ERROR_SUCCESS);
    const LONG style = GetWindowLongW(window, GWL_STYLE);
    if (style == 0 && GetLastError() != ERROR_SUCCESS) Refused("GetWindowLongW");
    const LONG caption = LONG(WS_CAPTION);
    const LONG changed = AVisible ? (style | caption) : (style & ~caption);

    RECT area{};
    if (GetClientRect(window, &area) == FALSE) Refused("GetClientRect");
    SetLastError(ERROR_SUCCESS);
    if (SetWindowLongW(window, GWL_STYLE, changed) == 0 && GetLastError() != ERROR_SUCCESS) Refused("SetWindowLongW");
    if (AdjustWindowRect(&area, DWORD(changed), GetMenu(window) != nullptr) == FALSE) Refused("AdjustWindowRect");
    constexpr UINT Flags = SWP_NOSENDCHANGING | SWP_FRAMECHANGED | SWP_NOZORDER | SWP_NOMOVE; // 0x0426
    if (SetWindowPos(window, nullptr, 0, 0, area.right - area.left, area.bottom - area.top, Flags) == FALSE)
        Refused("SetWindowPos");
}

} // namespace zlt::platform
