#include "http/Defaults.h"

#include <QtGlobal>

namespace zlt::http {

namespace {

std::int32_t EnvMilliseconds(const char* AName, std::int32_t ADefault) {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(AName, &ok);
    return ok && value > 0 ? value : ADefault;
}

} // namespace

TZLTHttpDefaults& TZLTHttpDefaults::Instance() {
    static TZLTHttpDefaults defaults = [] {
        TZLTHttpDefaults d;
        d.CaFile = qEnvironmentVariable("ZLT_CA_FILE");
        d.ConnectTimeoutMs = EnvMilliseconds("ZLT_CONNECT_TIMEOUT_MS", d.ConnectTimeoutMs);
        d.StallTimeoutMs = EnvMilliseconds("ZLT_STALL_TIMEOUT_MS", d.StallTimeoutMs);
        return d;
    }();
    return defaults;
}

} // namespace zlt::http
