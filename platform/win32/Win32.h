#pragma once

// Helpers shared by the Windows implementations; never included outside platform/win32/.

#include "platform/Handle.h"

#include <QString>

#include <windows.h>

// Windows names these calls by macros that would rename the services of the same names.
#undef DeleteFile
#undef GetPrivateProfileString

namespace zlt::platform::win32 {

// The HANDLE of a handle, and a handle for a HANDLE (both of Windows' invalid values, null and
// INVALID_HANDLE_VALUE, stay invalid).
inline HANDLE Native(const TUniqueHandle& AHandle) noexcept { return reinterpret_cast<HANDLE>(AHandle.Get()); }
inline TUniqueHandle Own(HANDLE AHandle) noexcept {
    if (AHandle == nullptr || AHandle == INVALID_HANDLE_VALUE) return TUniqueHandle();
    return TUniqueHandle(reinterpret_cast<TNativeHandle>(AHandle));
}

// A path for the wide Windows calls: backslashes, zero-terminated, and from about MAX_PATH on
// in the extended-length form ("\\?\C:\..."), absolute.
std::wstring WidePath(const QString& APath);

// The system's text for an error code of GetLastError().
QString SystemErrorText(DWORD AError);

} // namespace zlt::platform::win32
