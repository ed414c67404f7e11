#include "platform/Exception.h"

#include <utility>

namespace zlt::platform {

Exception::Exception(QString AMessage) : FMessage(std::move(AMessage)), FUtf8(FMessage.toUtf8()) {}

} // namespace zlt::platform
