#pragma once

#include "publish/Package.h"

#include <QString>

#include <functional>

namespace zlt::publish {

struct TPublishOptions {
    QString From;    // the folder whose content is the release
    QString Version; // numbers separated by dots
    QString App;
    QString Channel; // "Produccion" or "Pruebas"
    QString To;      // the server's folder; the release goes into To/Channel
    QString Key;     // minisign secret key; empty: nothing is signed
    QString Script = QStringLiteral("PHP"); // "PHP" or "ASP"
    QString Package;                         // the package's file name; empty: App + ".zip"
    QString Expires;                         // "90d", "12h"; empty: never
    bool Force = false;                      // publish even when not newer than what is there
};

// Where a step reports what it did, one line at a time.
using TReport = std::function<void(const QString& ALine)>;

// Makes the release of AOptions in To/Channel: the package, its manifest, both signed when a
// key is given, and the check script. Every file is written beside its place first and put in
// place only when all are complete. Throws Exception naming the file and the cause; nothing
// is then written, and To/Channel is left as it was.
void Publish(const TPublishOptions& AOptions, const TReport& AReport, const TProgress& AProgress);

// The version already published in AChannelFolder for APackage: its manifest's, else the one
// the check script names; empty when there is none. Throws Exception when a manifest is there
// but can't be read.
QString PublishedVersion(const QString& AChannelFolder, const QString& APackage);

// The version a check script (PHP or ASP) names; empty when it names none.
QString ScriptVersion(const QByteArray& AScript);

} // namespace zlt::publish
