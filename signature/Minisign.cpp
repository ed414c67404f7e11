#include "signature/Minisign.h"

#include "common/Errors.h"

#include <sodium.h>
#ifdef ZLT_PREHASH_OPENSSL
#include <openssl/evp.h>
#endif

#include <QList>

#include <algorithm>
#include <cstring>

namespace zlt::signature {

namespace {

constexpr char LegacyAlgorithm[] = "Ed";
constexpr char PrehashedAlgorithm[] = "ED";
constexpr std::size_t AlgorithmBytes = 2;
constexpr qsizetype PublicKeyBytes = AlgorithmBytes + 8 + 32;
constexpr qsizetype SignatureBytes = AlgorithmBytes + 8 + 64;
constexpr qsizetype GlobalSignatureBytes = 64;

void EnsureSodium() {
    // Safe to call from several threads and more than once; -1 only when the library cannot
    // get what it needs from the system (no random source), which the checks here never use.
    static const int ready = sodium_init();
    if (ready < 0) throw Exception(QStringLiteral("The cryptography library could not start (sodium_init failed)"));
}

// Strict base64: anything but the alphabet and its padding is refused, as minisign does.
QByteArray DecodeBase64(const QByteArray& AText, const QString& AWhat) {
    const QByteArray::FromBase64Result decoded = QByteArray::fromBase64Encoding(
        AText, QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || AText.isEmpty()) throw Exception(QStringLiteral("%1 is not base64").arg(AWhat));
    return decoded.decoded;
}

template <std::size_t N>
void CopyBytes(std::array<std::uint8_t, N>& ATarget, const QByteArray& ASource, qsizetype AOffset) {
    std::memcpy(ATarget.data(), ASource.constData() + AOffset, N);
}

} // namespace

QString KeyIdText(const TKeyId& AKeyId) {
    // minisign prints the id as a little-endian 64-bit number, in hexadecimal without leading
    // zeros.
    quint64 value = 0;
    for (auto it = AKeyId.rbegin(); it != AKeyId.rend(); ++it) value = (value << 8) | *it;
    return QString::number(value, 16).toUpper();
}

TPublicKey ParsePublicKey(const QString& ALine) {
    const QByteArray bytes = DecodeBase64(ALine.trimmed().toLatin1(),
                                          QStringLiteral("The public key \"%1\"").arg(ALine.trimmed()));
    if (bytes.size() != PublicKeyBytes || std::memcmp(bytes.constData(), LegacyAlgorithm, AlgorithmBytes) != 0)
        throw Exception(QStringLiteral("The public key \"%1\" is not a minisign public key").arg(ALine.trimmed()));
    TPublicKey key;
    CopyBytes(key.KeyId, bytes, AlgorithmBytes);
    CopyBytes(key.Key, bytes, AlgorithmBytes + 8);
    return key;
}

std::vector<TPublicKey> ParsePublicKeys(const QStringList& AKeys) {
    std::vector<TPublicKey> keys;
    for (const QString& line : AKeys)
        if (!line.trimmed().isEmpty()) keys.push_back(ParsePublicKey(line));
    return keys;
}

QStringList SplitKeyList(const QString& AList) {
    QStringList keys;
    for (const QString& entry : AList.split(u',', Qt::SkipEmptyParts))
        if (!entry.trimmed().isEmpty()) keys.append(entry.trimmed());
    return keys;
}

TSignature ParseSignature(const QByteArray& AText) {
    const auto malformed = [](const QString& AWhy) {
        return Exception(QStringLiteral("The signature file is malformed: %1").arg(AWhy));
    };
    if (AText.size() > MaxSignatureFileBytes)
        throw malformed(QStringLiteral("larger than %1 bytes").arg(MaxSignatureFileBytes));
    QList<QByteArray> lines = AText.split('\n');
    for (QByteArray& line : lines)
        if (line.endsWith('\r')) line.chop(1);
    while (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    if (lines.size() != 4) throw malformed(QStringLiteral("%1 lines instead of 4").arg(lines.size()));
    static const QByteArray untrusted = "untrusted comment: ";
    static const QByteArray trusted = "trusted comment: ";
    if (!lines[0].startsWith(untrusted)) throw malformed(QStringLiteral("no untrusted comment on its first line"));
    if (!lines[2].startsWith(trusted)) throw malformed(QStringLiteral("no trusted comment on its third line"));

    const QByteArray signature = DecodeBase64(lines[1], QStringLiteral("Its signature line"));
    if (signature.size() != SignatureBytes)
        throw malformed(
            QStringLiteral("a signature of %1 bytes instead of %2").arg(signature.size()).arg(SignatureBytes));
    const QByteArray global = DecodeBase64(lines[3], QStringLiteral("Its global signature line"));
    if (global.size() != GlobalSignatureBytes)
        throw malformed(QStringLiteral("a global signature of %1 bytes instead of %2")
                            .arg(global.size())
                            .arg(GlobalSignatureBytes));

    TSignature result;
    if (std::memcmp(signature.constData(), PrehashedAlgorithm, AlgorithmBytes) == 0)
        result.Prehashed = true;
    else if (std::memcmp(signature.constData(), LegacyAlgorithm, AlgorithmBytes) != 0)
        throw malformed(QStringLiteral("unknown algorithm \"%1\"").arg(QString::fromLatin1(signature.left(2).toHex())));
    CopyBytes(result.KeyId, signature, AlgorithmBytes);
    CopyBytes(result.Signature, signature, AlgorithmBytes + 8);
    result.TrustedComment = lines[2].mid(trusted.size());
    CopyBytes(result.GlobalSignature, global, 0);
    return result;
}

const TPublicKey& SigningKey(const std::vector<TPublicKey>& AKeys, const TSignature& ASignature) {
    const auto key = std::find_if(AKeys.begin(), AKeys.end(),
                                  [&ASignature](const TPublicKey& AKey) { return AKey.KeyId == ASignature.KeyId; });
    if (key == AKeys.end())
        throw Exception(QStringLiteral("The package is signed with key %1, which is not a trusted key")
                            .arg(KeyIdText(ASignature.KeyId)));
    return *key;
}

void Verify(const TPublicKey& AKey, const TSignature& ASignature, const TDigest& AFileDigest) {
    EnsureSodium();
    if (!ASignature.Prehashed)
        throw Exception(QStringLiteral("The package carries a legacy signature (not prehashed); only prehashed "
                                       "signatures are accepted: sign it with a current minisign"));
    if (crypto_sign_verify_detached(ASignature.Signature.data(), AFileDigest.data(), AFileDigest.size(),
                                    AKey.Key.data()) != 0)
        throw Exception(QStringLiteral("The package does not match its signature (key %1)").arg(KeyIdText(AKey.KeyId)));
    QByteArray signedComment(reinterpret_cast<const char*>(ASignature.Signature.data()),
                             static_cast<qsizetype>(ASignature.Signature.size()));
    signedComment += ASignature.TrustedComment;
    if (crypto_sign_verify_detached(ASignature.GlobalSignature.data(),
                                    reinterpret_cast<const unsigned char*>(signedComment.constData()),
                                    static_cast<unsigned long long>(signedComment.size()), AKey.Key.data()) != 0)
        throw Exception(
            QStringLiteral("The trusted comment of the signature was altered (key %1)").arg(KeyIdText(AKey.KeyId)));
}

#ifdef ZLT_PREHASH_OPENSSL
// libcrypto's BLAKE2b runs about twice as fast as libsodium's on the machines we measured
// (bench/integrity), which decides whether hashing keeps pace with a fast download; libsodium's
// serves where libcrypto is not part of the build.
struct TPrehash::TState {
    struct TFree {
        void operator()(EVP_MD_CTX* AContext) const { EVP_MD_CTX_free(AContext); }
    };
    std::unique_ptr<EVP_MD_CTX, TFree> Context{EVP_MD_CTX_new()};
};

TPrehash::TPrehash() : FState(std::make_unique<TState>()) {
    if (!FState->Context) throw Exception(QStringLiteral("Cannot hash the package (EVP_MD_CTX_new failed)"));
    Reset();
}

void TPrehash::Reset() {
    if (EVP_DigestInit_ex(FState->Context.get(), EVP_blake2b512(), nullptr) != 1)
        throw Exception(QStringLiteral("Cannot hash the package (BLAKE2b-512 is not available)"));
}

void TPrehash::Update(const char* AData, std::size_t ASize) {
    if (EVP_DigestUpdate(FState->Context.get(), AData, ASize) != 1)
        throw Exception(QStringLiteral("Cannot hash the package (EVP_DigestUpdate failed)"));
}

TDigest TPrehash::Final() {
    TDigest digest{};
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(FState->Context.get(), digest.data(), &size) != 1 || size != digest.size())
        throw Exception(QStringLiteral("Cannot hash the package (EVP_DigestFinal_ex failed)"));
    return digest;
}
#else
struct TPrehash::TState {
    crypto_generichash_state Hash;
};

TPrehash::TPrehash() : FState(std::make_unique<TState>()) {
    EnsureSodium();
    Reset();
}

void TPrehash::Reset() { crypto_generichash_init(&FState->Hash, nullptr, 0, std::tuple_size_v<TDigest>); }

void TPrehash::Update(const char* AData, std::size_t ASize) {
    crypto_generichash_update(&FState->Hash, reinterpret_cast<const unsigned char*>(AData), ASize);
}

TDigest TPrehash::Final() {
    TDigest digest{};
    crypto_generichash_final(&FState->Hash, digest.data(), digest.size());
    return digest;
}
#endif

TPrehash::~TPrehash() = default;

} // namespace zlt::signature
