#include "platform/Shell.h"
#include "platform/Native.h"

#include "platform/win32/Win32.h"

#include <shellapi.h>

#include <QStringList>

#include <string>

namespace zlt::platform {

std::optional<TProgramEnd> TWatchedProgram::WaitForEnd(unsigned AMilliseconds) {
    if (FEnd || !FHandle.Valid()) return FEnd;
    if (::WaitForSingleObject(win32::Native(FHandle), AMilliseconds) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    if (::GetExitCodeProcess(win32::Native(FHandle), &code) == FALSE) return std::nullopt;
    // An unhandled exception ends the process with the exception's code (0xC0000005 ...).
    FEnd = TProgramEnd{static_cast<quint32>(code), false};
    return FEnd;
}

namespace native {

namespace {

// The shell's "open" of APath; AProcess gets the started process's handle when asked for one
// and the shell gives it (a program; not a document handed to a running opener).
bool ShellOpen(const QString& APath, const QString& AParameters, HANDLE* AProcess) {
    const std::wstring file = win32::WidePath(APath);
    const std::wstring parameters = AParameters.toStdWString();
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = AProcess != nullptr ? SEE_MASK_NOCLOSEPROCESS : 0;
    info.lpVerb = L"open";
    info.lpFile = file.c_str();
    info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
    // No folder: the program starts in the caller's working folder.
    info.lpDirectory = nullptr;
    info.nShow = SW_SHOWNORMAL;
    if (::ShellExecuteExW(&info) == FALSE) return false;
    if (AProcess != nullptr) *AProcess = info.hProcess;
    return true;
}

} // namespace

bool OpenFile(const QString& APath, const QString& AParameters) { return ShellOpen(APath, AParameters, nullptr); }

TShellStart OpenWatched(const QString& APath, const QString& AParameters) {
    HANDLE process = nullptr;
    if (!ShellOpen(APath, AParameters, &process)) return {};
    TUniqueHandle handle = win32::Own(process);
    if (!handle.Valid()) return {true, {}};
    const DWORD id = ::GetProcessId(process);
    return {true, TWatchedProgram(std::move(handle), static_cast<quint32>(id))};
}

namespace {

// One argument as CommandLineToArgvW and the C runtime read it back: quoted when it is empty
// or holds a blank or a quote, backslashes doubled only before a quote.
std::wstring QuotedArgument(const QString& AArgument) {
    const std::wstring text = AArgument.toStdWString();
    if (!text.empty() && text.find_first_of(L" \t\n\v\"") == std::wstring::npos) return text;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t character : text) {
        if (character == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(character == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        quoted += character;
        backslashes = 0;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L'"';
}

bool RunsElevated() {
    HANDLE token = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token) == FALSE) return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool known = ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) != FALSE;
    ::CloseHandle(token);
    return known && elevation.TokenIsElevated != 0;
}

} // namespace

QString StartElevated(const QString& AProgram, const QStringList& AParameters) {
    if (RunsElevated()) return QStringLiteral("the updater runs with administrator rights already");
    std::wstring parameters;
    for (const QString& parameter : AParameters) {
        if (!parameters.empty()) parameters += L' ';
        parameters += QuotedArgument(parameter);
    }
    const std::wstring file = win32::WidePath(AProgram);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    // Synchronous, so that the prompt's answer is known before this copy ends.
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"runas";
    info.lpFile = file.c_str();
    info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (::ShellExecuteExW(&info) == FALSE) return win32::SystemErrorText(::GetLastError());
    return {};
}

} // namespace native

} // namespace zlt::platform
