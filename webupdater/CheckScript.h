#pragma once

#include <QByteArray>
#include <QString>

namespace zlt::webupdater {

// The server's check script that answers "Outdated" to a client older than AVersion and
// "Updated" otherwise: the file name and the bytes for Lang "PHP" or "ASP" (compared exactly).
// Another Lang gives an empty name and no bytes. The bytes are the script's lines, each ended
// by CR LF, in the system's ANSI code page, with AVersion inserted as it is.
QString CheckScriptName(const QString& Lang);
QByteArray CheckScriptBytes(const QString& Lang, const QString& AVersion);

} // namespace zlt::webupdater
