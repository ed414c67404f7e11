#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace zlt::signature {

using TKeyId = std::array<std::uint8_t, 8>;
using TDigest = std::array<std::uint8_t, 64>; // BLAKE2b-512

// A public key as `minisign -G` writes it: the base64 line of its .pub file.
struct TPublicKey {
    TKeyId KeyId{};
    std::array<std::uint8_t, 32> Key{};
};

// The key's id as minisign prints it in its public key file's comment: hexadecimal, upper case.
QString KeyIdText(const TKeyId& AKeyId);

// Parses one key line; throws Exception naming what is wrong with it.
TPublicKey ParsePublicKey(const QString& ALine);
// Parses every key of AKeys (each entry one key line, blanks trimmed, empty entries ignored).
// One bad entry fails the whole list: a key that was meant to be trusted and is silently
// dropped would turn a rotation into a refusal nobody understands.
std::vector<TPublicKey> ParsePublicKeys(const QStringList& AKeys);
// "key1, key2" as the settings file holds it.
QStringList SplitKeyList(const QString& AList);

// A .minisig file: the signature of the file and the global signature over the trusted comment.
struct TSignature {
    bool Prehashed = false; // false: the legacy form, over the file itself
    TKeyId KeyId{};
    std::array<std::uint8_t, 64> Signature{};
    QByteArray TrustedComment; // without the "trusted comment: " prefix
    std::array<std::uint8_t, 64> GlobalSignature{};
};

// The largest .minisig accepted: two comments of minisign's limit and two base64 lines fit
// with room to spare.
constexpr std::int64_t MaxSignatureFileBytes = 16 * 1024;

// Parses a .minisig file; throws Exception naming what is wrong (an HTML page served in its
// place, for instance).
TSignature ParseSignature(const QByteArray& AText);

// The key of AKeys that made ASignature; throws Exception when none did.
const TPublicKey& SigningKey(const std::vector<TPublicKey>& AKeys, const TSignature& ASignature);

// Checks ASignature, made by AKey, against the BLAKE2b-512 digest of the file, and the global
// signature over its trusted comment. Throws Exception with the cause when either fails or the
// signature is of the legacy form, which signs the file itself and so cannot be checked while
// the file streams by.
void Verify(const TPublicKey& AKey, const TSignature& ASignature, const TDigest& AFileDigest);

// BLAKE2b-512 of a stream, fed piece by piece.
class TPrehash {
public:
    TPrehash();
    ~TPrehash();
    TPrehash(const TPrehash&) = delete;
    TPrehash& operator=(const TPrehash&) = delete;

    void Update(const char* AData, std::size_t ASize);
    // The digest of everything fed since construction or the last Reset.
    TDigest Final();
    void Reset();

private:
    struct TState;
    std::unique_ptr<TState> FState;
};

} // namespace zlt::signature
