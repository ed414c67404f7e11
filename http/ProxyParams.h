#pragma once

#include <QString>

#include <cstdint>

namespace zlt::http {

// Proxy settings: a plain value; copies share nothing. With UseProxy set and a Server named,
// requests go through that HTTP proxy with basic authentication as Username and Password.
// The component hands its record to its client as it is, so both share this one type.
struct TkvProxyParams {
    bool UseProxy = false;
    QString Server;
    std::int32_t Port = 0;
    QString Username;
    QString Password;

    bool operator==(const TkvProxyParams&) const = default;
};

} // namespace zlt::http
