#include "webupdater/WebUpdater.h"

#include "common/Errors.h"
#include "platform/AnsiCodePage.h"
#include "platform/System.h"
#include "ui/MessageBox.h"

#include <QFile>
#include <QStringList>

namespace zlt::webupdater {

namespace {

QStringList PhpScript(const QString& AVersion) {
    return {QStringLiteral("<?php"),
            QStringLiteral("$newVersion = \"%1\";").arg(AVersion),
            QStringLiteral("$actualVersion = $_GET[\"ver\"];"),
            QStringLiteral("if ($actualVersion < $newVersion || $actualVersion == \"\") {"),
            QStringLiteral("    echo \"Outdated\";"),
            QStringLiteral("}else{"),
            QStringLiteral("    echo \"Updated\";"),
            QStringLiteral("}"),
            QStringLiteral("?>")};
}

QStringList AspScript(const QString& AVersion) {
    return {QStringLiteral("<%"),
            QStringLiteral("Dim newVersion, actualVersion"),
            QStringLiteral("newVersion = \"%1\"").arg(AVersion),
            QStringLiteral("actualVersion = Request.QueryString(\"ver\")"),
            QStringLiteral("if (actualVersion < newVersion OR actualVersion = \"\") then"),
            QStringLiteral("    Response.Write \"Outdated\""),
            QStringLiteral("else"),
            QStringLiteral("    Response.Write \"Updated\""),
            QStringLiteral("end if"),
            QStringLiteral("%>")};
}

void SaveAnsiLines(const QStringList& ALines, const QString& AFileName) {
    QByteArray content;
    for (const QString& line : ALines) content += platform::ToAnsi(line) + "\r\n";
    QFile file(AFileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size() ||
        !file.flush())
        throw Exception(QStringLiteral("Cannot create file \"%1\". %2").arg(AFileName, file.errorString()));
}

} // namespace

void TZLTWebUpdater::CreateScript(const QString& Lang) {
    const QString caption = QStringLiteral("Application.Title");
    try {
        QStringList lines;
        QString scriptName;
        if (Lang == QStringLiteral("PHP")) {
            lines = PhpScript(FstrVerNumber);
            scriptName = QStringLiteral("checkUpdates.php");
        } else if (Lang == QStringLiteral("ASP")) {
            lines = AspScript(FstrVerNumber);
            scriptName = QStringLiteral("checkUpdates.asp");
        } else {
            return;
        }
        const QString folder = platform::ExecutableFolder();
        SaveAnsiLines(lines, folder + scriptName);
        ui::MessageBox(QStringLiteral("The script %1 has been correcly created in %2").arg(scriptName, folder), caption,
                       ui::MB_ICONINFORMATION | ui::MB_OK);
    } catch (...) {
        ui::MessageBox(QStringLiteral("Something has gone wrong creating Php script.\r\nNo file has been created."),
                       caption, ui::MB_ICONERROR | ui::MB_OK);
    }
}

} // namespace zlt::webupdater
