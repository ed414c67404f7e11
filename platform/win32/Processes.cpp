#include "platform/Processes.h"

#include "platform/win32/Win32.h"

#include <tlhelp32.h>

#include <string>

namespace zlt::platform {

namespace {
constexpr qsizetype MaxExeFileLength = 260;

// The full path of the program a process runs; empty when the process can't be asked (another
// user's, a system process, one that ended).
QString ImagePath(DWORD AProcessId) {
    const TUniqueHandle process = win32::Own(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, AProcessId));
    if (!process.Valid()) return {};
    std::wstring path(32768, L'\0');
    DWORD length = static_cast<DWORD>(path.size());
    if (::QueryFullProcessImageNameW(win32::Native(process), 0, path.data(), &length) == FALSE) return {};
    return QString::fromWCharArray(path.data(), static_cast<qsizetype>(length));
}

} // namespace

std::optional<std::vector<TProcessEntry>> CreateProcessSnapshot() {
    const TUniqueHandle snapshot = win32::Own(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.Valid()) return std::nullopt;
    std::vector<TProcessEntry> entries;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(win32::Native(snapshot), &entry); more;
         more = ::Process32NextW(win32::Native(snapshot), &entry)) {
        // Id 0 is the system's idle process, never a program of anyone's.
        if (entry.th32ProcessID == 0) continue;
        // The image name is the executable's own file name, which the process can't change.
        TProcessEntry process{static_cast<quint32>(entry.th32ProcessID),
                              QString::fromWCharArray(entry.szExeFile).left(MaxExeFileLength), std::nullopt, QString()};
        process.ExePath = ImagePath(entry.th32ProcessID);
        if (!process.ExePath.isEmpty()) process.Executable = FileIdentity(process.ExePath);
        entries.push_back(std::move(process));
    }
    return entries;
}

bool TerminateProcessById(quint32 AProcessId, quint32 AExitCode) {
    if (AProcessId == 0) return false;
    const TUniqueHandle process = win32::Own(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, AProcessId));
    if (!process.Valid()) return false;
    // A process that has ended lives on as long as someone (its parent) holds a handle to it;
    // it is gone all the same, and there is nothing to stop.
    if (::WaitForSingleObject(win32::Native(process), 0) == WAIT_OBJECT_0) return false;
    return ::TerminateProcess(win32::Native(process), AExitCode) != FALSE;
}

} // namespace zlt::platform
