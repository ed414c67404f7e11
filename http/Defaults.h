#pragma once

#include <QString>

#include <cstdint>

namespace zlt::http {

// Process-wide transfer settings that every new client starts from. Read once from the
// environment when first used: ZLT_CA_FILE (a PEM bundle trusted besides the system's),
// ZLT_CONNECT_TIMEOUT_MS, ZLT_STALL_TIMEOUT_MS, ZLT_LOW_SPEED_BYTES_PER_S,
// ZLT_LOW_SPEED_TIME_S, ZLT_MAX_BODY_BYTES, ZLT_TRANSFER_TIMEOUT_MS, ZLT_MAX_RESUMPTIONS and
// ZLT_RESUME_BACKOFF_MS.
// Tests may change them directly. Together they make every transfer end by itself: a server
// that never answers, stops, drips or sends without end can't hold the updater, and with it
// the stopped application, for long.
struct TZLTHttpDefaults {
    QString CaFile; // empty: the system's trust store only
    std::int32_t ConnectTimeoutMs = 30000;
    std::int32_t StallTimeoutMs = 60000; // no byte received for this long ends the transfer
    // Less than LowSpeedBytesPerSecond on average over LowSpeedSeconds ends the transfer.
    std::int32_t LowSpeedBytesPerSecond = 1024;
    std::int32_t LowSpeedSeconds = 60;
    // A body larger than this, declared or not, ends the transfer before more is written.
    std::int64_t MaxBodyBytes = std::int64_t{4} << 30;
    // The whole transfer, every try and pause included, ends after this long: a body that
    // arrives just above the low-speed floor can't keep the application down for days.
    std::int32_t TransferTimeoutMs = 3600 * 1000;
    // Tries after the first of a download that breaks off (0: none), each after a pause of
    // ResumeBackoffMs times its number (0: none). Only a try that delivered something worth
    // going on from (ResumeWorthBytes, or 1% of the file when that is less) is followed by
    // another: a server that stalls or drips from the first byte costs one try.
    std::int32_t MaxResumptions = 3;
    std::int32_t ResumeBackoffMs = 250;
    static constexpr std::int64_t ResumeWorthBytes = 1024 * 1024;
    static TZLTHttpDefaults& Instance();
};

// The User-Agent and Accept headers that every client sends unless told otherwise, and the REST
// routines always: fixed values by which an update server's rules and access logs tell the
// updater's requests apart. They stay as they are, so that servers set up for them keep working.
inline const QString DefaultUserAgent = QStringLiteral("Mozilla/3.0 (compatible; Indy Library)");
inline const QString DefaultAccept = QStringLiteral("text/html, */*");

} // namespace zlt::http
