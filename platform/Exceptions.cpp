#include "platform/Exceptions.h"

#include <utility>

namespace zlt {

Exception::Exception(QString AMessage) : FMessage(std::move(AMessage)), FUtf8(FMessage.toUtf8()) {}

} // namespace zlt
