#include "common/Errors.h"

namespace zlt {

void RaiseRoutineError(const QString& ARoutineName, const QString& AErrorMessage) {
    throw Exception(QStringLiteral("Error al ejecutar la funci\u00F3n ") + ARoutineName + QStringLiteral(".\r\n") +
                    AErrorMessage);
}

} // namespace zlt
