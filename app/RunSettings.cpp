#include "app/RunSettings.h"

#include "common/Text.h"

namespace zlt::app {

QString ParamVersion;
QString ParamUser;
QString ParamPassword;
bool TestMode = false;
bool WebVersionMode = false;
bool RollBackMode = false;

namespace {

constexpr qsizetype ValueStart = 4;
constexpr qsizetype ValueLength = 512;

} // namespace

void ParseParameters(const QStringList& AParameters) {
    TestMode = false;
    WebVersionMode = false;
    RollBackMode = false;
    for (const QString& parameter : AParameters) {
        // Only a to z change: letters of other scripts must not turn into a key.
        const QString upper = AsciiUpperCase(parameter);
        // The value starts at the fifth character wherever the key stands in the parameter.
        const QString value = parameter.mid(ValueStart, ValueLength);
        if (upper.contains(u"VER="))
            ParamVersion = value;
        else if (upper.contains(u"USR="))
            ParamUser = value;
        else if (upper.contains(u"PWD="))
            ParamPassword = value;
        else if (upper.contains(u"PRB"))
            TestMode = true;
        else if (upper.contains(u"WEB_VERSION"))
            WebVersionMode = true;
        else if (upper == u"ROLLBACK")
            RollBackMode = true;
    }
}

} // namespace zlt::app
