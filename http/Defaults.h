#pragma once

#include <QString>

#include <cstdint>

namespace zlt::http {

// Process-wide transfer settings that every new client starts from. Read once from the
// environment when first used: ZLT_CA_FILE (a PEM bundle trusted besides the system's),
// ZLT_CONNECT_TIMEOUT_MS, ZLT_STALL_TIMEOUT_MS. Tests may change them directly.
struct TZLTHttpDefaults {
    QString CaFile;                     // empty: the system's trust store only
    std::int32_t ConnectTimeoutMs = 30000;
    std::int32_t StallTimeoutMs = 60000; // no byte received for this long ends the transfer
    static TZLTHttpDefaults& Instance();
};

// The headers an HTTP client sends unless told otherwise, as the classic Delphi client does.
inline const QString DefaultUserAgent = QStringLiteral("Mozilla/3.0 (compatible; Indy Library)");
inline const QString DefaultAccept = QStringLiteral("text/html, */*");

} // namespace zlt::http
