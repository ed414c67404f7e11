#include "signature/Minisign.h"
#include "common/Errors.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>

using namespace zlt;
using namespace zlt::signature;
using namespace zlt::test;

namespace {

TDigest DigestOf(const QByteArray& AData, std::size_t APiece = 7) {
    TPrehash hash;
    for (qsizetype at = 0; at < AData.size(); at += static_cast<qsizetype>(APiece))
        hash.Update(AData.constData() + at,
                    static_cast<std::size_t>(std::min<qsizetype>(static_cast<qsizetype>(APiece), AData.size() - at)));
    return hash.Final();
}

// Verifies AFile's bytes against ASignatureText with AKeys the way the updater does; empty on
// success, else the refusal's message.
QString Refusal(const QStringList& AKeys, const QByteArray& ASignatureText, const QByteArray& AFile) {
    try {
        const std::vector<TPublicKey> keys = ParsePublicKeys(AKeys);
        const TSignature signature = ParseSignature(ASignatureText);
        Verify(SigningKey(keys, signature), signature, DigestOf(AFile));
        return {};
    } catch (const Exception& error) {
        return error.Message();
    }
}

class MinisignTest : public ::testing::Test {
protected:
    void SetUp() override {
        ZLT_REQUIRE_PROGRAM(QStringLiteral("minisign"));
        Package = Dir.File(QStringLiteral("package.zip"));
        WriteRandomFile(Package, 300000, 7);
        Key.emplace();
        Key->Sign(Package);
    }

    TTempDir Dir;
    QString Package;
    std::optional<TMinisignKey> Key;
};

} // namespace

TEST_F(MinisignTest, RealSignaturesAreAcceptedOrRefusedWithTheirCause) {
    const TMinisignKey other;
    const QByteArray file = ReadFile(Package);
    const QByteArray good = ReadFile(Package + QStringLiteral(".minisig"));
    const QString legacyFile = Dir.File(QStringLiteral("legacy.minisig"));
    Key->Sign(Package, true, legacyFile);
    const QString otherFile = Dir.File(QStringLiteral("other.minisig"));
    other.Sign(Package, false, otherFile);

    const auto flipped = [](QByteArray AData, qsizetype AAt) {
        AData[AAt] = static_cast<char>(AData[AAt] ^ 0x01);
        return AData;
    };
    const QList<QByteArray> lines = good.split('\n');
    // A character in the middle of the signature's base64 line: still base64, other bytes.
    const qsizetype inSignature = lines[0].size() + 1 + 40;
    const qsizetype inTrustedComment = lines[0].size() + 1 + lines[1].size() + 1 + 20;
    QByteArray swappedLetter = good;
    swappedLetter[inSignature] = good[inSignature] == 'A' ? 'B' : 'A';

    struct TCase {
        const char* Name;
        QStringList Keys;
        QByteArray Signature;
        QByteArray File;
        QString Refusal; // empty: accepted; else a part of the message
    };
    const QList<TCase> cases = {
        {"good", {Key->PublicKeyLine()}, good, file, {}},
        {"byte flipped in the package",
         {Key->PublicKeyLine()},
         good,
         flipped(file, 150000),
         "does not match its signature"},
        {"byte flipped in the signature", {Key->PublicKeyLine()}, swappedLetter, file, "does not match its signature"},
        {"trusted comment altered", {Key->PublicKeyLine()}, flipped(good, inTrustedComment), file, "trusted comment"},
        {"another key's signature", {Key->PublicKeyLine()}, ReadFile(otherFile), file, "not a trusted key"},
        {"legacy signature", {Key->PublicKeyLine()}, ReadFile(legacyFile), file, "legacy signature"},
        {"second of two keys", {other.PublicKeyLine(), Key->PublicKeyLine()}, good, file, {}},
        {"an HTML page in its place",
         {Key->PublicKeyLine()},
         "<html><body>Not found</body></html>\n",
         file,
         "malformed"},
        {"empty", {Key->PublicKeyLine()}, "", file, "malformed"},
        {"oversized", {Key->PublicKeyLine()}, good + QByteArray(MaxSignatureFileBytes, '\n'), file, "malformed"},
        {"CRLF line ends", {Key->PublicKeyLine()}, QByteArray(good).replace("\n", "\r\n"), file, {}},
        {"a bad key among good ones", {Key->PublicKeyLine(), QStringLiteral("not-a-key")}, good, file, "not-a-key"},
        {"a secret key's line as the key",
         {QString::fromLatin1(QByteArray(42, 'x').toBase64())},
         good,
         file,
         "not a minisign public key"},
    };
    for (const TCase& c : cases) {
        const QString refusal = Refusal(c.Keys, c.Signature, c.File);
        if (c.Refusal.isEmpty())
            EXPECT_TRUE(refusal.isEmpty()) << c.Name << ": " << refusal.toStdString();
        else
            EXPECT_TRUE(refusal.contains(c.Refusal)) << c.Name << ": \"" << refusal.toStdString() << '"';
    }
}

TEST_F(MinisignTest, KeyIdIsPrintedAsMinisignPrintsIt) {
    // minisign names the key by its id in the public key file's comment.
    const TPublicKey key = ParsePublicKey(Key->PublicKeyLine());
    const QString comment = QString::fromLatin1(ReadFile(Key->PublicKeyFile()).split('\n').first());
    EXPECT_TRUE(comment.endsWith(QStringLiteral(" ") + KeyIdText(key.KeyId))) << comment.toStdString();
    EXPECT_EQ(KeyIdText(ParseSignature(ReadFile(Package + QStringLiteral(".minisig"))).KeyId), KeyIdText(key.KeyId));
}

TEST(PrehashTest, PiecesAndResetGiveTheDigestOfTheWhole) {
    QByteArray data(100000, '\0');
    for (qsizetype i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 31);
    TPrehash whole;
    whole.Update(data.constData(), static_cast<std::size_t>(data.size()));
    const TDigest expected = whole.Final();
    EXPECT_EQ(DigestOf(data, 1), expected);
    EXPECT_EQ(DigestOf(data, 65536), expected);
    TPrehash reused;
    reused.Update("something else", 14);
    reused.Reset();
    reused.Update(data.constData(), static_cast<std::size_t>(data.size()));
    EXPECT_EQ(reused.Final(), expected);
}

// The digest is BLAKE2b-512 as coreutils computes it, whatever library the build takes it from.
TEST(PrehashTest, AgreesWithB2sum) {
    ZLT_REQUIRE_PROGRAM(QStringLiteral("b2sum"));
    TTempDir dir;
    const QString file = dir.File(QStringLiteral("package.zip"));
    WriteRandomFile(file, 3 * 1024 * 1024 + 5, 9);
    QByteArray output;
    ASSERT_EQ(RunProgram(QStringLiteral("b2sum"), {file}, &output), 0);
    const TDigest digest = DigestOf(ReadFile(file), 100000);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(digest.data()), static_cast<qsizetype>(digest.size())).toHex(),
              output.left(128));
}

TEST(KeyListTest, CommasAndBlanksSeparateKeys) {
    EXPECT_EQ(SplitKeyList(QStringLiteral(" a, b ,,c ")), (QStringList{"a", "b", "c"}));
    EXPECT_TRUE(SplitKeyList(QStringLiteral("  ")).isEmpty());
}
