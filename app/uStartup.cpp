#include "app/uStartup.h"

#include "app/uFrmMainUpdater_.h"
#include "common/uZLTGlobal.h"
#include "platform/Application.h"
#include "platform/Graphics.h"
#include "platform/System.h"

#include <QApplication>
#include <QFileInfo>

#include <exception>

namespace zlt {

QString ParamVersion;
QString ParamUser;
QString ParamPassword;
bool TestMode = false;
bool WebVersionMode = false;
QPointer<TfrmMainUpdater_> frmMainUpdater_;

namespace {

constexpr qsizetype ValueStart = 4;
constexpr qsizetype ValueLength = 512;

// Only a to z change: letters of other scripts must not turn into a key ("uſr=" stays unknown).
QString AsciiUpperCase(const QString& AText) {
    QString upper = AText;
    for (QChar& character : upper)
        if (character >= u'a' && character <= u'z') character = QChar(character.unicode() - (u'a' - u'A'));
    return upper;
}

} // namespace

void ParseParameters(const QStringList& AParameters) {
    TestMode = false;
    WebVersionMode = false;
    for (const QString& parameter : AParameters) {
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
    }
}

int RunStartup(int argc, char** argv) {
    platform::SetCommandLine(argc, argv);
    // Both checks come before the windowed application exists: a refused start shows nothing
    // and needs no display.
    const QString exeName = QFileInfo(platform::ExecutablePath()).fileName();
    if (CountProcess(exeName) > 1) return 0;
    if (platform::ParamCount() == 0) return 0;

    QStringList parameters;
    for (int index = 1; index <= platform::ParamCount(); ++index) parameters.append(platform::ParamStr(index));
    ParseParameters(parameters);

    QApplication application(argc, argv);
    LoadWindowsFonts();
    try {
        auto* window = new TfrmMainUpdater_();
        Application().Own(window);
        Application().SetMainForm(window);
        frmMainUpdater_ = window;
        window->show();
        QApplication::exec();
    } catch (const std::exception& error) {
        Application().HandleException(error);
    }
    Application().ReleaseOwned();
    return 0;
}

} // namespace zlt
