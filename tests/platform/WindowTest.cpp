// The title bar of a native window, taken away and put back with the system's window styles.

#include "platform/Exception.h"
#include "platform/Window.h"

#include <QPoint>
#include <QSize>

#include <gtest/gtest.h>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace zlt::test {
namespace {

#ifdef Q_OS_WIN

// A plain top-level window with a title bar and a sizeable frame, its client area 472 x 125.
class TPlainWindow {
public:
    TPlainWindow() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"ZltTitleBarTest";
        RegisterClassW(&windowClass);
        RECT area{0, 0, 472, 125};
        AdjustWindowRect(&area, WS_OVERLAPPEDWINDOW, FALSE);
        Handle = CreateWindowExW(0, L"ZltTitleBarTest", L"title bar test", WS_OVERLAPPEDWINDOW, 40, 30,
                                 area.right - area.left, area.bottom - area.top, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    }
    ~TPlainWindow() {
        if (Handle != nullptr) DestroyWindow(Handle);
    }
    TPlainWindow(const TPlainWindow&) = delete;
    TPlainWindow& operator=(const TPlainWindow&) = delete;

    QSize Client() const {
        RECT area{};
        GetClientRect(Handle, &area);
        return {int(area.right - area.left), int(area.bottom - area.top)};
    }
    QPoint Position() const {
        RECT area{};
        GetWindowRect(Handle, &area);
        return {int(area.left), int(area.top)};
    }
    LONG Style() const { return GetWindowLongW(Handle, GWL_STYLE); }

    HWND Handle = nullptr;
};

TEST(NativeTitleBar, GoesAndComesBackWithTheClientAreaKept) {
    ASSERT_TRUE(platform::HasNativeTitleBar());
    TPlainWindow window;
    ASSERT_NE(window.Handle, nullptr);
    ASSERT_EQ(window.Client(), QSize(472, 125));
    const QPoint position = window.Position();

    platform::SetNativeTitleBar(quintptr(window.Handle), false);
    EXPECT_EQ(window.Style() & WS_CAPTION, 0) << "no caption bits";
    EXPECT_NE(window.Style() & WS_THICKFRAME, 0) << "the sizeable frame stays";
    EXPECT_EQ(window.Client(), QSize(472, 125));
    EXPECT_EQ(window.Position(), position) << "not moved";

    platform::SetNativeTitleBar(quintptr(window.Handle), true);
    EXPECT_EQ(window.Style() & WS_CAPTION, WS_CAPTION);
    EXPECT_EQ(window.Client(), QSize(472, 125));
    EXPECT_EQ(window.Position(), position);
}

TEST(NativeTitleBar, ANonWindowIsRefusedWithTheSystemsReason) {
    EXPECT_THROW(platform::SetNativeTitleBar(0, false), platform::Exception);
    EXPECT_THROW(platform::SetNativeTitleBar(quintptr(0x7654), false), platform::Exception);
}

#else

TEST(NativeTitleBar, TheWindowManagerDrawsTheFrameHere) {
    EXPECT_FALSE(platform::HasNativeTitleBar());
    EXPECT_THROW(platform::SetNativeTitleBar(0, false), platform::Exception);
}

#endif

} // namespace
} // namespace zlt::test
