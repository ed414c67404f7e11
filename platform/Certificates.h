#pragma once

#include <QString>

namespace zlt::platform {

// The CA bundle that TLS trusts when nobody named one, empty when the system's own store
// serves. On Windows that is "curl-ca-bundle.crt" beside the running executable when it is
// there: libcurl then checks every server against it itself, which Wine's Schannel would not
// do with the system store. Without the file, Schannel checks against the Windows store. On
// POSIX the system's certificate folder always serves.
QString DefaultCaBundle();

} // namespace zlt::platform
