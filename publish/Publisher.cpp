#include "publish/Publisher.h"

#include "common/Errors.h"
#include "platform/Files.h"
#include "publish/Signer.h"
#include "signature/Manifest.h"
#include "signature/Release.h"
#include "webupdater/CheckScript.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <optional>

namespace zlt::publish {

namespace {

QByteArray ReadAll(const QString& AFileName, std::int64_t AMaxBytes) {
    QFile file(AFileName);
    if (!file.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("Cannot read \"%1\": %2").arg(AFileName, file.errorString()));
    if (file.size() > AMaxBytes)
        throw Exception(QStringLiteral("\"%1\" is larger than %2 bytes").arg(AFileName).arg(AMaxBytes));
    return file.readAll();
}

void WriteNew(const QString& AFileName, const QByteArray& AContent) {
    QFile file(AFileName);
    if (!file.open(QIODevice::NewOnly) || file.write(AContent) != AContent.size() || !file.flush())
        throw Exception(QStringLiteral("Cannot write \"%1\": %2").arg(AFileName, file.errorString()));
}

std::optional<QDateTime> Expiry(const QString& AText, const QDateTime& ANow) {
    if (AText.isEmpty()) return std::nullopt;
    const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("^([0-9]{1,5})([dh])$")).match(AText);
    if (!match.hasMatch() || match.captured(1).toInt() == 0)
        throw Exception(QStringLiteral("--expires \"%1\" is not a duration such as 90d (days) or 12h (hours)").arg(AText));
    const int count = match.captured(1).toInt();
    return match.captured(2) == QLatin1String("d") ? ANow.addDays(count) : ANow.addSecs(qint64{count} * 3600);
}

// Refuses options that would make a release no client can take, before anything is read.
void CheckOptions(TPublishOptions& AOptions) {
    if (!signature::IsVersion(AOptions.Version))
        throw Exception(QStringLiteral("--version \"%1\" is not a version (numbers separated by dots, such as 2.0.1)")
                            .arg(AOptions.Version));
    if (AOptions.Channel != QLatin1String("Produccion") && AOptions.Channel != QLatin1String("Pruebas"))
        throw Exception(QStringLiteral("--channel \"%1\" is neither Produccion nor Pruebas").arg(AOptions.Channel));
    // The app goes into the signature's trusted comment, whose fields blanks separate.
    if (AOptions.App.isEmpty() || AOptions.App.contains(QRegularExpression(QStringLiteral("[\\s:/\\\\]"))))
        throw Exception(QStringLiteral("--app \"%1\" must be a name without blanks, ':' or slashes").arg(AOptions.App));
    if (AOptions.Package.isEmpty()) AOptions.Package = AOptions.App + QStringLiteral(".zip");
    if (AOptions.Package.contains(QRegularExpression(QStringLiteral("[\\s/\\\\]"))) || AOptions.Package.startsWith(u'.'))
        throw Exception(QStringLiteral("--package \"%1\" must be a file name without blanks or folders").arg(AOptions.Package));
    AOptions.Script = AOptions.Script.toUpper();
    if (webupdater::CheckScriptName(AOptions.Script).isEmpty())
        throw Exception(QStringLiteral("--script \"%1\" is neither PHP nor ASP").arg(AOptions.Script));
    if (!AOptions.Key.isEmpty() && !QFileInfo(AOptions.Key).isFile())
        throw Exception(QStringLiteral("The key file \"%1\" does not exist").arg(AOptions.Key));
    if (!AOptions.Key.isEmpty()) ReadAll(AOptions.Key, 64 * 1024); // readable, or the cause
    if (!AOptions.Key.isEmpty()) MinisignProgram();                 // there, or the cause
}

void CheckNewer(const TPublishOptions& AOptions, const QString& AChannelFolder, const TReport& AReport) {
    QString published;
    try {
        published = PublishedVersion(AChannelFolder, AOptions.Package);
    } catch (const Exception& error) {
        if (!AOptions.Force)
            throw Exception(QStringLiteral("%1; --force publishes anyway").arg(error.Message()));
        AReport(QStringLiteral("Published version unknown (%1); published anyway (--force)").arg(error.Message()));
        return;
    }
    if (published.isEmpty() || !signature::IsVersion(published) ||
        signature::CompareVersions(AOptions.Version, published) > 0)
        return;
    if (!AOptions.Force)
        throw Exception(QStringLiteral("Version %1 is not newer than %2, already published in \"%3\"; --force "
                                       "publishes it anyway")
                            .arg(AOptions.Version, published, AChannelFolder));
    AReport(QStringLiteral("Version %1 replaces %2 (--force)").arg(AOptions.Version, published));
}

// The release's files, made in AStaging under their final names; returns those names in the
// order they go into place (the check script last: clients look for the release only once the
// rest is there).
QStringList MakeRelease(const TPublishOptions& AOptions, const QString& AStaging, const TReport& AReport,
                        const TProgress& AProgress) {
    const std::vector<TPackageItem> items = ListFolder(AOptions.From);
    const QString package = AStaging + u'/' + AOptions.Package;
    const TPackageFacts facts = WritePackage(items, package, AProgress);
    AReport(QStringLiteral("Package %1: %2 files, %3 bytes").arg(AOptions.Package).arg(facts.Entries.size()).arg(facts.Size));

    signature::TManifest manifest;
    manifest.App = AOptions.App;
    manifest.Version = AOptions.Version;
    manifest.Channel = AOptions.Channel;
    manifest.Created = QDateTime::currentDateTimeUtc();
    manifest.Expires = Expiry(AOptions.Expires, manifest.Created);
    manifest.PackageName = AOptions.Package;
    manifest.PackageSize = facts.Size;
    manifest.PackageHash = facts.Hash;
    manifest.Entries = facts.Entries;
    manifest.Folders = facts.Folders;
    const QString manifestFile = package + QStringLiteral(".manifest");
    WriteNew(manifestFile, signature::ManifestJson(manifest));
    QStringList names{AOptions.Package, AOptions.Package + QStringLiteral(".manifest")};

    if (!AOptions.Key.isEmpty()) {
        AReport(QStringLiteral("Signing with %1").arg(AOptions.Key));
        SignFiles(AOptions.Key, {package, manifestFile},
                  signature::TrustedComment(AOptions.Version, AOptions.Channel, AOptions.App));
        names.insert(1, AOptions.Package + QStringLiteral(".minisig"));
        names.append(AOptions.Package + QStringLiteral(".manifest.minisig"));
    }
    const QString script = webupdater::CheckScriptName(AOptions.Script);
    WriteNew(AStaging + u'/' + script, webupdater::CheckScriptBytes(AOptions.Script, AOptions.Version));
    names.append(script);
    return names;
}

void PutInPlace(const QString& AStaging, const QString& AChannelFolder, const QStringList& ANames,
                const TReport& AReport) {
    for (const QString& name : ANames) {
        const QString error = platform::RenameOver(AStaging + u'/' + name, AChannelFolder + u'/' + name);
        if (!error.isEmpty())
            throw Exception(QStringLiteral("Cannot put \"%1\" in place: %2").arg(AChannelFolder + u'/' + name, error));
        AReport(QStringLiteral("Published %1").arg(QDir::toNativeSeparators(AChannelFolder + u'/' + name)));
    }
}

// An unsigned release over a signed one: the old signatures would name files that are gone.
void RemoveStaleSignatures(const QString& AChannelFolder, const QString& APackage, const TReport& AReport) {
    for (const QString& name : {APackage + QStringLiteral(".minisig"), APackage + QStringLiteral(".manifest.minisig")}) {
        const QString file = AChannelFolder + u'/' + name;
        if (QFileInfo::exists(file) && QFile::remove(file))
            AReport(QStringLiteral("Removed %1, the signature of an earlier release").arg(QDir::toNativeSeparators(file)));
    }
}

} // namespace

QString ScriptVersion(const QByteArray& AScript) {
    static const QRegularExpression line(QStringLiteral("^(?:\\$newVersion|newVersion) = \"([^\"]*)\""),
                                         QRegularExpression::MultilineOption);
    return line.match(QString::fromLatin1(AScript)).captured(1);
}

QString PublishedVersion(const QString& AChannelFolder, const QString& APackage) {
    const QString manifest = AChannelFolder + u'/' + APackage + QStringLiteral(".manifest");
    if (QFileInfo::exists(manifest)) {
        try {
            return signature::ParseManifest(ReadAll(manifest, signature::MaxManifestBytes)).Version;
        } catch (const Exception& error) {
            throw Exception(QStringLiteral("\"%1\": %2").arg(manifest, error.Message()));
        }
    }
    for (const QString& lang : {QStringLiteral("PHP"), QStringLiteral("ASP")}) {
        const QString script = AChannelFolder + u'/' + webupdater::CheckScriptName(lang);
        if (QFileInfo::exists(script)) return ScriptVersion(ReadAll(script, 64 * 1024));
    }
    return {};
}

void Publish(const TPublishOptions& AOptions, const TReport& AReport, const TProgress& AProgress) {
    TPublishOptions options = AOptions;
    CheckOptions(options);
    if (!QFileInfo(options.To).isDir())
        throw Exception(QStringLiteral("The server folder \"%1\" does not exist").arg(options.To));
    const QString channelFolder = QDir(options.To).absoluteFilePath(options.Channel);
    CheckNewer(options, channelFolder, AReport);
    const bool made = !QFileInfo::exists(channelFolder);
    if (made && !QDir().mkpath(channelFolder))
        throw Exception(QStringLiteral("Cannot create the folder \"%1\"").arg(channelFolder));
    try {
        QTemporaryDir staging(channelFolder + QStringLiteral("/.zlt-publish-XXXXXX"));
        if (!staging.isValid())
            throw Exception(QStringLiteral("Cannot write in \"%1\": %2").arg(channelFolder, staging.errorString()));
        PutInPlace(staging.path(), channelFolder, MakeRelease(options, staging.path(), AReport, AProgress), AReport);
    } catch (...) {
        if (made) QDir(channelFolder).removeRecursively();
        throw;
    }
    if (options.Key.isEmpty()) RemoveStaleSignatures(channelFolder, options.Package, AReport);
}

} // namespace zlt::publish
