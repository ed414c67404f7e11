#pragma once

#include "platform/Exception.h"

#include <QString>

namespace zlt {

// The common exception, defined at the lowest layer so that operating-system services raise
// it too; everything above names it zlt::Exception.
using platform::Exception;

// A value could not be converted or assigned ("Cannot assign a %s to a %s").
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// Raises Exception("Error al ejecutar la función <ARoutineName>." CR LF AErrorMessage).
[[noreturn]] void RaiseRoutineError(const QString& ARoutineName, const QString& AErrorMessage);

// Runs ABody under the guard of a routine: an Exception that leaves it is raised again through
// RaiseRoutineError with ALabel and the caught message. Other exception types pass untouched.
template <typename TBody>
decltype(auto) Guarded(const QString& ALabel, TBody&& ABody) {
    try {
        return ABody();
    } catch (const Exception& error) {
        RaiseRoutineError(ALabel, error.Message());
    }
}

} // namespace zlt
