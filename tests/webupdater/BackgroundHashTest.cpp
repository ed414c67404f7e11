#include "signature/Minisign.h"
#include "webupdater/BackgroundHash.h"

#include <gtest/gtest.h>

namespace zlt::test {

using namespace zlt::webupdater;

namespace {

signature::TDigest DigestOf(const QByteArray& AData) {
    signature::TPrehash hash;
    hash.Update(AData.constData(), static_cast<std::size_t>(AData.size()));
    return hash.Final();
}

} // namespace

// More blocks than the hasher keeps, handed faster than it hashes: every byte counts once, in
// order, and a reset forgets what came before it, even while blocks are still waiting.
TEST(BackgroundHashTest, DigestOfEveryBlockInOrderAndResetForgets) {
    QByteArray all;
    QByteArray block;
    TBackgroundHash hash;
    const auto handOut = [&](int ACount, char ASeed) {
        for (int i = 0; i < ACount; ++i) {
            block.resize(0);
            for (int j = 0; j < 100000 + i; ++j) block.append(static_cast<char>(ASeed + j * 7 + i));
            all += block;
            hash.Hand(block);
            EXPECT_TRUE(block.isEmpty());
        }
    };
    handOut(12, 'a');
    hash.Reset();
    all.clear();
    handOut(9, 'q');
    EXPECT_EQ(hash.Final(), DigestOf(all));
}

} // namespace zlt::test
