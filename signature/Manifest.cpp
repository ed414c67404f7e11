#include "signature/Manifest.h"

#include "common/Errors.h"

#include <sodium.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstring>

namespace zlt::signature {

namespace {

QString TimeText(const QDateTime& ATime) { return ATime.toUTC().toString(Qt::ISODate); }

template <std::size_t N>
std::array<std::uint8_t, N> DigestFromHex(const QJsonValue& AValue, const QString& AWhat) {
    const QByteArray bytes = QByteArray::fromHex(AValue.toString().toLatin1());
    if (!AValue.isString() || bytes.size() != static_cast<qsizetype>(N) ||
        AValue.toString().size() != static_cast<qsizetype>(2 * N))
        throw Exception(QStringLiteral("%1 is not a hash of %2 hexadecimal digits").arg(AWhat).arg(2 * N));
    std::array<std::uint8_t, N> digest{};
    std::memcpy(digest.data(), bytes.constData(), N);
    return digest;
}

QJsonValue Field(const QJsonObject& AObject, const char* AKey, QJsonValue::Type AType, const QString& AWhere) {
    const QJsonValue value = AObject.value(QLatin1String(AKey));
    if (value.type() != AType)
        throw Exception(QStringLiteral("%1 has no %2 field \"%3\"")
                            .arg(AWhere, AType == QJsonValue::String   ? QStringLiteral("text")
                                         : AType == QJsonValue::Double ? QStringLiteral("number")
                                                                       : QStringLiteral("list or object"),
                                 QLatin1String(AKey)));
    return value;
}

QString Text(const QJsonObject& AObject, const char* AKey, const QString& AWhere) {
    return Field(AObject, AKey, QJsonValue::String, AWhere).toString();
}

// A whole number from 0 to AMax under AKey.
std::int64_t Whole(const QJsonObject& AObject, const char* AKey, const QString& AWhere,
                   double AMax = 9007199254740992.0) {
    const double value = Field(AObject, AKey, QJsonValue::Double, AWhere).toDouble();
    // JSON numbers are doubles: exact up to 2^53, far beyond any package.
    if (value < 0 || value > AMax || value != static_cast<double>(static_cast<std::int64_t>(value)))
        throw Exception(QStringLiteral("%1 has no whole %2").arg(AWhere, QLatin1String(AKey)));
    return static_cast<std::int64_t>(value);
}

std::int64_t Size(const QJsonObject& AObject, const QString& AWhere) { return Whole(AObject, "size", AWhere); }

TManifestSpan Span(const QJsonObject& AObject, const QString& AWhere) {
    TManifestSpan span;
    span.Offset = Whole(AObject, "offset", AWhere);
    span.Length = Whole(AObject, "span", AWhere);
    span.Hash = DigestFromHex<32>(AObject.value(QLatin1String("blake2b256")), AWhere + QStringLiteral("'s blake2b256"));
    span.Crc = static_cast<std::uint32_t>(Whole(AObject, "crc32", AWhere, 4294967295.0));
    span.CompressedSize = Whole(AObject, "compressed", AWhere);
    span.Mode = static_cast<int>(Whole(AObject, "mode", AWhere, 07777));
    if (span.Length < span.CompressedSize)
        throw Exception(QStringLiteral("%1's span is shorter than its compressed data").arg(AWhere));
    return span;
}

QJsonObject SpanJson(const TManifestSpan& ASpan) {
    return QJsonObject{{QStringLiteral("offset"), static_cast<double>(ASpan.Offset)},
                       {QStringLiteral("span"), static_cast<double>(ASpan.Length)},
                       {QStringLiteral("blake2b256"), HexText(ASpan.Hash)},
                       {QStringLiteral("crc32"), static_cast<double>(ASpan.Crc)},
                       {QStringLiteral("compressed"), static_cast<double>(ASpan.CompressedSize)},
                       {QStringLiteral("mode"), ASpan.Mode}};
}

QDateTime Time(const QString& AText, const QString& AWhat) {
    const QDateTime time = QDateTime::fromString(AText, Qt::ISODate);
    if (!time.isValid()) throw Exception(QStringLiteral("%1 \"%2\" is not a time").arg(AWhat, AText));
    return time.toUTC();
}

std::vector<TManifestEntry> Entries(const QJsonArray& AEntries) {
    std::vector<TManifestEntry> entries;
    for (qsizetype i = 0; i < AEntries.size(); ++i) {
        const QString where = QStringLiteral("entry %1").arg(i + 1);
        if (!AEntries[i].isObject()) throw Exception(QStringLiteral("%1 is not an object").arg(where));
        const QJsonObject object = AEntries[i].toObject();
        TManifestEntry entry;
        entry.Name = Text(object, "name", where);
        entry.Size = Size(object, where);
        entry.Hash = DigestFromHex<32>(object.value(QLatin1String("blake2b256")), where + QStringLiteral("'s blake2b256"));
        if (object.contains(QLatin1String("zip")))
            entry.Span = Span(Field(object, "zip", QJsonValue::Object, where).toObject(), where + QStringLiteral("'s zip"));
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<TManifestEntry> Folders(const QJsonArray& AFolders) {
    std::vector<TManifestEntry> folders;
    for (qsizetype i = 0; i < AFolders.size(); ++i) {
        const QString where = QStringLiteral("folder %1").arg(i + 1);
        const QJsonObject object = AFolders[i].toObject();
        TManifestEntry folder;
        folder.Name = Text(object, "name", where);
        if (!folder.Name.endsWith(u'/')) throw Exception(QStringLiteral("%1 has no name ending with /").arg(where));
        folder.Span = Span(Field(object, "zip", QJsonValue::Object, where).toObject(), where + QStringLiteral("'s zip"));
        folders.push_back(std::move(folder));
    }
    return folders;
}

void ReadPackage(const QJsonObject& APackage, TManifest& AManifest) {
    const QString where = QStringLiteral("its package");
    AManifest.PackageName = Text(APackage, "name", where);
    AManifest.PackageSize = Size(APackage, where);
    AManifest.PackageHash = DigestFromHex<64>(APackage.value(QLatin1String("blake2b512")),
                                              QStringLiteral("the package's blake2b512"));
}

} // namespace

TReleaseFacts TManifest::Facts() const {
    TReleaseFacts facts;
    facts.Version = Version;
    facts.Channel = Channel;
    facts.App = App;
    facts.File = PackageName;
    facts.Expires = Expires;
    return facts;
}

QByteArray ManifestJson(const TManifest& AManifest) {
    QJsonArray entries;
    for (const TManifestEntry& entry : AManifest.Entries) {
        QJsonObject object{{QStringLiteral("name"), entry.Name},
                           {QStringLiteral("size"), static_cast<double>(entry.Size)},
                           {QStringLiteral("blake2b256"), HexText(entry.Hash)}};
        if (entry.Span) object.insert(QStringLiteral("zip"), SpanJson(*entry.Span));
        entries.append(object);
    }
    QJsonObject manifest{
        {QStringLiteral("format"), AManifest.Format},
        {QStringLiteral("app"), AManifest.App},
        {QStringLiteral("version"), AManifest.Version},
        {QStringLiteral("channel"), AManifest.Channel},
        {QStringLiteral("created"), TimeText(AManifest.Created)},
        {QStringLiteral("package"), QJsonObject{{QStringLiteral("name"), AManifest.PackageName},
                                                {QStringLiteral("size"), static_cast<double>(AManifest.PackageSize)},
                                                {QStringLiteral("blake2b512"), HexText(AManifest.PackageHash)}}},
        {QStringLiteral("entries"), entries}};
    if (!AManifest.Folders.empty()) {
        QJsonArray folders;
        for (const TManifestEntry& folder : AManifest.Folders)
            folders.append(QJsonObject{{QStringLiteral("name"), folder.Name},
                                       {QStringLiteral("zip"), SpanJson(folder.Span.value_or(TManifestSpan{}))}});
        manifest.insert(QStringLiteral("folders"), folders);
    }
    if (AManifest.Expires) manifest.insert(QStringLiteral("expires"), TimeText(*AManifest.Expires));
    return QJsonDocument(manifest).toJson(QJsonDocument::Indented);
}

TManifest ParseManifest(const QByteArray& AJson) {
    try {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(AJson, &error);
        if (error.error != QJsonParseError::NoError)
            throw Exception(QStringLiteral("not JSON (%1 at byte %2)").arg(error.errorString()).arg(error.offset));
        if (!document.isObject()) throw Exception(QStringLiteral("not a JSON object"));
        const QJsonObject object = document.object();
        const QString where = QStringLiteral("it");
        TManifest manifest;
        manifest.Format = Field(object, "format", QJsonValue::Double, where).toInt();
        if (manifest.Format != TManifest::CurrentFormat)
            throw Exception(QStringLiteral("format %1, which this program does not know").arg(manifest.Format));
        manifest.App = Text(object, "app", where);
        manifest.Version = Text(object, "version", where);
        manifest.Channel = Text(object, "channel", where);
        manifest.Created = Time(Text(object, "created", where), QStringLiteral("its time made"));
        if (object.contains(QLatin1String("expires")))
            manifest.Expires = Time(Text(object, "expires", where), QStringLiteral("its expiry"));
        ReadPackage(Field(object, "package", QJsonValue::Object, where).toObject(), manifest);
        manifest.Entries = Entries(Field(object, "entries", QJsonValue::Array, where).toArray());
        if (object.contains(QLatin1String("folders")))
            manifest.Folders = Folders(Field(object, "folders", QJsonValue::Array, where).toArray());
        return manifest;
    } catch (const Exception& error) {
        throw Exception(QStringLiteral("The manifest is malformed: %1").arg(error.Message()));
    }
}

void CheckPackage(const TManifest& AManifest, std::int64_t ASize, const TDigest& ADigest) {
    if (ASize != AManifest.PackageSize)
        throw Exception(QStringLiteral("package of %1 bytes where the manifest says %2").arg(ASize).arg(AManifest.PackageSize));
    if (ADigest != AManifest.PackageHash)
        throw Exception(QStringLiteral("package's BLAKE2b-512 %1 is not the manifest's %2")
                            .arg(HexText(ADigest).left(16), HexText(AManifest.PackageHash).left(16)));
}

struct TEntryHash::TState {
    crypto_generichash_state Hash;
};

TEntryHash::TEntryHash() : FState(std::make_unique<TState>()) {
    if (sodium_init() < 0) throw Exception(QStringLiteral("The cryptography library could not start (sodium_init failed)"));
    crypto_generichash_init(&FState->Hash, nullptr, 0, std::tuple_size_v<TEntryDigest>);
}

TEntryHash::~TEntryHash() = default;

void TEntryHash::Update(const char* AData, std::size_t ASize) {
    crypto_generichash_update(&FState->Hash, reinterpret_cast<const unsigned char*>(AData), ASize);
}

TEntryDigest TEntryHash::Final() {
    TEntryDigest digest{};
    crypto_generichash_final(&FState->Hash, digest.data(), digest.size());
    return digest;
}

} // namespace zlt::signature
