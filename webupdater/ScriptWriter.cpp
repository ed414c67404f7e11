#include "webupdater/WebUpdater.h"

#include "common/Errors.h"
#include "platform/System.h"
#include "ui/MessageBox.h"
#include "webupdater/CheckScript.h"

#include <QFile>

namespace zlt::webupdater {

namespace {

void SaveBytes(const QByteArray& AContent, const QString& AFileName) {
    QFile file(AFileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(AContent) != AContent.size() ||
        !file.flush())
        throw Exception(QStringLiteral("Cannot create file \"%1\". %2").arg(AFileName, file.errorString()));
}

} // namespace

void TZLTWebUpdater::CreateScript(const QString& Lang) {
    const QString caption = QStringLiteral("Application.Title");
    try {
        const QString scriptName = CheckScriptName(Lang);
        if (scriptName.isEmpty()) return;
        const QByteArray content = CheckScriptBytes(Lang, FstrVerNumber);
        const QString folder = platform::ExecutableFolder();
        SaveBytes(content, folder + scriptName);
        ui::MessageBox(QStringLiteral("The script %1 has been correcly created in %2").arg(scriptName, folder), caption,
                       ui::MB_ICONINFORMATION | ui::MB_OK);
    } catch (...) {
        ui::MessageBox(QStringLiteral("Something has gone wrong creating Php script.\r\nNo file has been created."),
                       caption, ui::MB_ICONERROR | ui::MB_OK);
    }
}

} // namespace zlt::webupdater
