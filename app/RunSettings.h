#pragma once

#include <QString>
#include <QStringList>

namespace zlt::app {

// Run settings, written once by start-up before the window exists.
extern QString ParamVersion;
extern QString ParamUser;
extern QString ParamPassword;
extern bool TestMode;
extern bool WebVersionMode;
// The parameter ROLLBACK (the whole parameter, in any case): the kept previous version is put
// back instead of an update.
extern bool RollBackMode;

// Classifies the parameters (program path excluded) into the run settings: each parameter by
// the first key that its upper-cased form contains ("VER=", "USR=", "PWD=", "PRB",
// "WEB_VERSION"; then ROLLBACK as a whole parameter); a later parameter overwrites an earlier
// one with the same key.
void ParseParameters(const QStringList& AParameters);

} // namespace zlt::app
