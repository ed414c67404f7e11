#include "platform/Shell.h"
#include "platform/Native.h"

#include "platform/win32/Win32.h"

#include <shellapi.h>

#include <string>

namespace zlt::platform::native {

bool OpenFile(const QString& APath, const QString& AParameters) {
    const std::wstring file = win32::WidePath(APath);
    const std::wstring parameters = AParameters.toStdWString();
    // No folder: the program starts in the caller's working folder. Results above 32 mean
    // success.
    const HINSTANCE result = ::ShellExecuteW(nullptr, L"open", file.c_str(),
                                             parameters.empty() ? nullptr : parameters.c_str(), nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

} // namespace zlt::platform::native
