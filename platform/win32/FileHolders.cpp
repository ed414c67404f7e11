#include "platform/Files.h"

#include "platform/win32/Win32.h"

#include <restartmanager.h>

#include <vector>

namespace zlt::platform {

QStringList FileHolders(const QString& AFileName) {
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (::RmStartSession(&session, 0, key) != ERROR_SUCCESS) return {};
    QStringList holders;
    std::wstring path = win32::WidePath(AFileName);
    LPCWSTR files[] = {path.c_str()};
    UINT needed = 0;
    UINT count = 0;
    DWORD reasons = 0;
    std::vector<RM_PROCESS_INFO> processes;
    if (::RmRegisterResources(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS) {
        // The list can grow between the two calls; a few tries are enough.
        for (int attempt = 0; attempt < 3; ++attempt) {
            count = static_cast<UINT>(processes.size());
            const DWORD result = ::RmGetList(session, &needed, &count, processes.data(), &reasons);
            if (result == ERROR_SUCCESS) {
                processes.resize(count);
                break;
            }
            if (result != ERROR_MORE_DATA) {
                processes.clear();
                break;
            }
            processes.resize(needed);
        }
    }
    for (const RM_PROCESS_INFO& process : processes)
        holders << QStringLiteral("%1 (process %2)")
                       .arg(QString::fromWCharArray(process.strAppName), QString::number(process.Process.dwProcessId));
    ::RmEndSession(session);
    return holders;
}

} // namespace zlt::platform
