#include "platform/Certificates.h"

namespace zlt::platform {

QString DefaultCaBundle() { return {}; }

} // namespace zlt::platform
