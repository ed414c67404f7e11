#include "platform/Certificates.h"

#include "platform/Files.h"
#include "platform/System.h"

namespace zlt::platform {

QString DefaultCaBundle() {
    const QString bundle = ExecutableFolder() + QStringLiteral("curl-ca-bundle.crt");
    return FileExists(bundle) ? bundle : QString();
}

} // namespace zlt::platform
