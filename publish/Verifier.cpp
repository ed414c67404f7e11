#include "publish/Verifier.h"

#include "common/Errors.h"
#include "platform/Profile.h"
#include "publish/Package.h"
#include "publish/Publisher.h"
#include "signature/Manifest.h"
#include "signature/Minisign.h"
#include "signature/Release.h"
#include "webupdater/CheckScript.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <map>
#include <optional>
#include <vector>

namespace zlt::publish {

namespace {

using TVerdictReport = std::function<void(TCheckVerdict AVerdict, const QString& ALine)>;

QByteArray ReadLimited(const QString& AFileName, std::int64_t AMaxBytes) {
    QFile file(AFileName);
    if (!file.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("cannot read %1: %2").arg(QFileInfo(AFileName).fileName(), file.errorString()));
    if (file.size() > AMaxBytes) throw Exception(QStringLiteral("%1 is too large").arg(QFileInfo(AFileName).fileName()));
    return file.readAll();
}

signature::TDigest FileDigest(const QString& AFileName) {
    QFile file(AFileName);
    if (!file.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("cannot read %1: %2").arg(QFileInfo(AFileName).fileName(), file.errorString()));
    signature::TPrehash hash;
    QByteArray block(1024 * 1024, Qt::Uninitialized);
    for (qint64 read; (read = file.read(block.data(), block.size())) > 0;)
        hash.Update(block.constData(), static_cast<std::size_t>(read));
    return hash.Final();
}

// The keys and the app that the options name.
struct TTrust {
    QStringList Keys;
    QString App;
    QString Source;
};

TTrust TrustOf(const TVerifyOptions& AOptions) {
    TTrust trust;
    if (!AOptions.PubKey.isEmpty()) {
        // A .pub file holds its key on its second line; anything else is the key itself.
        if (QFileInfo(AOptions.PubKey).isFile()) {
            const QList<QByteArray> lines = ReadLimited(AOptions.PubKey, 16 * 1024).trimmed().split('\n');
            trust.Keys = {QString::fromLatin1(lines.last().trimmed())};
        } else {
            trust.Keys = {AOptions.PubKey};
        }
        trust.Source = QStringLiteral("--pubkey");
    } else if (!AOptions.Cfi.isEmpty()) {
        if (!QFileInfo(AOptions.Cfi).isFile())
            throw Exception(QStringLiteral("The settings file \"%1\" does not exist").arg(AOptions.Cfi));
        const auto value = [&](const char* AKey) {
            return platform::GetPrivateProfileString(QStringLiteral("UPDATE"), QLatin1String(AKey), QString(), AOptions.Cfi);
        };
        trust.Keys = signature::SplitKeyList(value("PUBKEY"));
        const QString appExe = value("APPEXE");
        if (!appExe.trimmed().isEmpty()) trust.App = signature::AppOfProgram(appExe.trimmed());
        trust.Source = QFileInfo(AOptions.Cfi).fileName();
    }
    return trust;
}

QString ManifestFile(const TVerifyOptions& AOptions) {
    if (!AOptions.Package.isEmpty()) return AOptions.Folder + u'/' + AOptions.Package + QStringLiteral(".manifest");
    const QStringList found = QDir(AOptions.Folder).entryList({QStringLiteral("*.manifest")}, QDir::Files, QDir::Name);
    if (found.size() != 1)
        throw Exception(found.isEmpty() ? QStringLiteral("no manifest (*.manifest) in the folder")
                                        : QStringLiteral("%1 manifests in the folder (%2): name the package with --package")
                                              .arg(found.size())
                                              .arg(found.join(QStringLiteral(", "))));
    return AOptions.Folder + u'/' + found.first();
}

class TReleaseCheck {
public:
    TReleaseCheck(const TVerifyOptions& AOptions, TVerdictReport AReport)
        : FOptions(AOptions), FReport(std::move(AReport)), FTrust(TrustOf(AOptions)) {}
    bool Run();

private:
    // Runs ACheck, which returns the line of a check passed or throws the cause of a failure.
    void Check(const QString& AWhat, const std::function<QString()>& ACheck) {
        try {
            FReport(TCheckVerdict::cvPassed, AWhat + QStringLiteral(": ") + ACheck());
        } catch (const Exception& error) {
            FFailed = true;
            FReport(TCheckVerdict::cvFailed, AWhat + QStringLiteral(": ") + error.Message());
        }
    }
    QString CheckManifest();
    QString CheckSignature(const QString& AFile);
    QString CheckPackage();
    QString CheckEntries();
    QString CheckScript();

    TVerifyOptions FOptions;
    TVerdictReport FReport;
    TTrust FTrust;
    std::optional<signature::TManifest> FManifest;
    QString FPackage; // its path
    bool FFailed = false;
};

QString TReleaseCheck::CheckManifest() {
    const QString file = ManifestFile(FOptions);
    FManifest = signature::ParseManifest(ReadLimited(file, signature::MaxManifestBytes));
    FPackage = FOptions.Folder + u'/' + FManifest->PackageName;
    signature::TExpectedRelease expected;
    expected.Channel = QFileInfo(FOptions.Folder).fileName();
    expected.App = FTrust.App;
    expected.File = QFileInfo(file).completeBaseName();
    expected.Now = QDateTime::currentDateTimeUtc();
    signature::CheckRelease(FManifest->Facts(), expected);
    return QStringLiteral("%1: app %2, version %3, channel %4, %5 entries%6")
        .arg(QFileInfo(file).fileName(), FManifest->App, FManifest->Version, FManifest->Channel)
        .arg(FManifest->Entries.size())
        .arg(FManifest->Expires ? QStringLiteral(", expires %1").arg(FManifest->Expires->toString(Qt::ISODate)) : QString());
}

QString TReleaseCheck::CheckSignature(const QString& AFile) {
    const signature::TSignature signature =
        signature::ParseSignature(ReadLimited(AFile + QStringLiteral(".minisig"), signature::MaxSignatureFileBytes));
    const std::vector<signature::TPublicKey> keys = signature::ParsePublicKeys(FTrust.Keys);
    if (keys.empty()) throw Exception(QStringLiteral("%1 names no public key").arg(FTrust.Source));
    const signature::TPublicKey& key = signature::SigningKey(keys, signature);
    signature::Verify(key, signature, FileDigest(AFile));
    // The signed facts must be the manifest's.
    const signature::TReleaseFacts facts = signature::ParseTrustedComment(signature.TrustedComment);
    signature::TExpectedRelease expected;
    expected.Channel = FManifest->Channel;
    expected.App = FManifest->App;
    signature::CheckRelease(facts, expected);
    if (facts.Version && signature::CompareVersions(*facts.Version, FManifest->Version) != 0)
        throw Exception(QStringLiteral("signed as version %1, the manifest says %2").arg(*facts.Version, FManifest->Version));
    return QStringLiteral("good, key %1 (trusted by %2), trusted comment \"%3\"")
        .arg(signature::KeyIdText(key.KeyId), FTrust.Source, QString::fromUtf8(signature.TrustedComment));
}

QString TReleaseCheck::CheckPackage() {
    const QFileInfo info(FPackage);
    if (!info.isFile()) throw Exception(QStringLiteral("%1 is missing").arg(info.fileName()));
    signature::CheckPackage(*FManifest, info.size(), FileDigest(FPackage));
    return QStringLiteral("%1 bytes, BLAKE2b-512 as the manifest says").arg(info.size());
}

QString TReleaseCheck::CheckEntries() {
    std::map<QString, signature::TManifestEntry> listed;
    for (const signature::TManifestEntry& entry : FManifest->Entries) listed.emplace(entry.Name, entry);
    const std::vector<signature::TManifestEntry> held = ReadPackageEntries(FPackage);
    QStringList differ;
    for (const signature::TManifestEntry& entry : held) {
        const auto it = listed.find(entry.Name);
        if (it == listed.end())
            differ << QStringLiteral("%1 is not in the manifest").arg(entry.Name);
        else if (it->second.Size != entry.Size || it->second.Hash != entry.Hash)
            differ << QStringLiteral("%1 differs from the manifest").arg(entry.Name);
        if (it != listed.end()) listed.erase(it);
    }
    for (const auto& [name, entry] : listed) differ << QStringLiteral("%1 is missing from the package").arg(name);
    std::vector<signature::TManifestEntry> placed = FManifest->Entries;
    placed.insert(placed.end(), FManifest->Folders.begin(), FManifest->Folders.end());
    for (const QString& name : MisplacedEntries(placed, FPackage))
        differ << QStringLiteral("%1 is not where the manifest places it").arg(name);
    if (!differ.isEmpty()) throw Exception(differ.join(QStringLiteral("; ")));
    return QStringLiteral("%1 files, each as the manifest says").arg(held.size());
}

QString TReleaseCheck::CheckScript() {
    QStringList found;
    for (const QString& lang : {QStringLiteral("PHP"), QStringLiteral("ASP")}) {
        const QString name = webupdater::CheckScriptName(lang);
        const QString file = FOptions.Folder + u'/' + name;
        if (!QFileInfo::exists(file)) continue;
        const QByteArray script = ReadLimited(file, 64 * 1024);
        if (script != webupdater::CheckScriptBytes(lang, FManifest->Version))
            throw Exception(QStringLiteral("%1 names version %2, the manifest %3")
                                .arg(name, ScriptVersion(script).isEmpty() ? QStringLiteral("(none)") : ScriptVersion(script),
                                     FManifest->Version));
        found << name;
    }
    if (found.isEmpty()) throw Exception(QStringLiteral("no check script (checkUpdates.php or checkUpdates.asp)"));
    return QStringLiteral("%1 names version %2").arg(found.join(QStringLiteral(", ")), FManifest->Version);
}

bool TReleaseCheck::Run() {
    Check(QStringLiteral("manifest"), [this] { return CheckManifest(); });
    if (!FManifest) return false;
    const QString manifest = FPackage + QStringLiteral(".manifest");
    if (FTrust.Source.isEmpty()) {
        FReport(TCheckVerdict::cvSkipped, QStringLiteral("signatures: not checked (no --pubkey or --cfi)"));
    } else {
        Check(QStringLiteral("signature of %1").arg(QFileInfo(manifest).fileName()), [&] { return CheckSignature(manifest); });
        Check(QStringLiteral("signature of %1").arg(FManifest->PackageName), [this] { return CheckSignature(FPackage); });
    }
    Check(QStringLiteral("package %1").arg(FManifest->PackageName), [this] { return CheckPackage(); });
    Check(QStringLiteral("entries of %1").arg(FManifest->PackageName), [this] { return CheckEntries(); });
    Check(QStringLiteral("check script"), [this] { return CheckScript(); });
    return !FFailed;
}

} // namespace

bool VerifyRelease(const TVerifyOptions& AOptions, const TVerdictReport& AReport) {
    if (!QFileInfo(AOptions.Folder).isDir())
        throw Exception(QStringLiteral("\"%1\" is not a folder").arg(AOptions.Folder));
    TVerifyOptions options = AOptions;
    options.Folder = QFileInfo(AOptions.Folder).absoluteFilePath();
    return TReleaseCheck(options, AReport).Run();
}

} // namespace zlt::publish
