#pragma once

#include <QStringList>

namespace zlt {

// Classifies the parameters (program path excluded) into the run settings: each parameter by
// the first key that its upper-cased form contains ("VER=", "USR=", "PWD=", "PRB",
// "WEB_VERSION"); a later parameter overwrites an earlier one with the same key.
void ParseParameters(const QStringList& AParameters);

// The whole start-up: single-copy check, the end without parameters, parsing, the window and
// the event loop. Returns the exit code, 0 in every case.
int RunStartup(int argc, char** argv);

} // namespace zlt
