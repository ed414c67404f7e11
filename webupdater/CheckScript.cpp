#include "webupdater/CheckScript.h"

#include "platform/AnsiCodePage.h"

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

} // namespace

QString CheckScriptName(const QString& Lang) {
    if (Lang == QStringLiteral("PHP")) return QStringLiteral("checkUpdates.php");
    if (Lang == QStringLiteral("ASP")) return QStringLiteral("checkUpdates.asp");
    return {};
}

QByteArray CheckScriptBytes(const QString& Lang, const QString& AVersion) {
    QStringList lines;
    if (Lang == QStringLiteral("PHP"))
        lines = PhpScript(AVersion);
    else if (Lang == QStringLiteral("ASP"))
        lines = AspScript(AVersion);
    QByteArray content;
    for (const QString& line : lines) content += platform::ToAnsi(line) + "\r\n";
    return content;
}

} // namespace zlt::webupdater
