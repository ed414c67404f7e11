#include "http/Defaults.h"

#include <QtGlobal>

#include <limits>

namespace zlt::http {

namespace {

// A positive number from the environment, or ADefault when the variable is unset or no such
// number.
template <typename TValue>
TValue EnvPositive(const char* AName, TValue ADefault) {
    bool ok = false;
    const qlonglong value = qEnvironmentVariable(AName).toLongLong(&ok);
    return ok && value > 0 && value <= std::numeric_limits<TValue>::max() ? static_cast<TValue>(value) : ADefault;
}

// As EnvPositive, but 0 is a value too: for settings where it means "none".
template <typename TValue>
TValue EnvNonNegative(const char* AName, TValue ADefault) {
    bool ok = false;
    const qlonglong value = qEnvironmentVariable(AName).toLongLong(&ok);
    return ok && value >= 0 && value <= std::numeric_limits<TValue>::max() ? static_cast<TValue>(value) : ADefault;
}

} // namespace

TZLTHttpDefaults& TZLTHttpDefaults::Instance() {
    static TZLTHttpDefaults defaults = [] {
        TZLTHttpDefaults d;
        d.CaFile = qEnvironmentVariable("ZLT_CA_FILE");
        d.ConnectTimeoutMs = EnvPositive("ZLT_CONNECT_TIMEOUT_MS", d.ConnectTimeoutMs);
        d.StallTimeoutMs = EnvPositive("ZLT_STALL_TIMEOUT_MS", d.StallTimeoutMs);
        d.LowSpeedBytesPerSecond = EnvPositive("ZLT_LOW_SPEED_BYTES_PER_S", d.LowSpeedBytesPerSecond);
        d.LowSpeedSeconds = EnvPositive("ZLT_LOW_SPEED_TIME_S", d.LowSpeedSeconds);
        d.MaxBodyBytes = EnvPositive("ZLT_MAX_BODY_BYTES", d.MaxBodyBytes);
        d.TransferTimeoutMs = EnvPositive("ZLT_TRANSFER_TIMEOUT_MS", d.TransferTimeoutMs);
        d.MaxResumptions = EnvNonNegative("ZLT_MAX_RESUMPTIONS", d.MaxResumptions);
        d.ResumeBackoffMs = EnvNonNegative("ZLT_RESUME_BACKOFF_MS", d.ResumeBackoffMs);
        return d;
    }();
    return defaults;
}

} // namespace zlt::http
