#pragma once

// What the portable files of platform/ ask of the system they run on; posix/ and win32/
// implement it. Not for callers outside platform/: they use the headers of the families.

#include "platform/Shell.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace zlt::platform::native {

// The running program's file as the system names it ('/' as the delimiter); empty when the
// system does not tell.
QString RunningExecutablePath();

// The whole content of AFileName when it is a regular file that can be read; nullopt when it is
// missing, a folder, a pipe or a device, or a read fails. Never blocks on a pipe.
std::optional<QByteArray> ReadRegularFile(const QString& AFileName);

// Opens APath, a file that exists, as the shell's "open" verb does; true when something started.
bool OpenFile(const QString& APath, const QString& AParameters);

// StartElevated without the test's hook.
QString StartElevated(const QString& AProgram, const QStringList& AParameters);

// As OpenFile, but a program is started as a child that the caller watches (see
// TWatchedProgram); a document goes to the opener, unwatched.
TShellStart OpenWatched(const QString& APath, const QString& AParameters);

} // namespace zlt::platform::native
