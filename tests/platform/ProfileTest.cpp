// The profile reader's rules that the settings-file cases of uZLTGlobal don't reach: quotes,
// comments, duplicates and the buffer size.

#include "platform/Profile.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace zlt::test {
namespace {

TEST(ProfileReader, ParsesLikeTheWindowsReader) {
    const QString Missing = QStringLiteral("<default>");
    const struct {
        const char* Name;
        QByteArray Content;
        QString Expected;
        qsizetype BufferSize = 2048;
    } cases[] = {
        {"single quotes removed", "[S]\nK='a b'\n", "a b"},
        {"only one pair of quotes removed", "[S]\nK=\"\"x\"\"\n", "\"x\""},
        {"quotes of two kinds stay", "[S]\nK=\"a b'\n", "\"a b'"},
        {"a lone quote stays", "[S]\nK=\"\n", "\""},
        {"an inner quote stays", "[S]\nK=a \"b\" c\n", "a \"b\" c"},
        {"'=' inside the value", "[S]\nK=a=b\n", "a=b"},
        {"blanks around the key name", "[S]\n  k \t= v\n", "v"},
        {"empty value", "[S]\nK=\n", ""},
        {"comment line ignored", "[S]\n;K=commented\nK=real\n", "real"},
        {"only a commented key", "[S]\n;K=commented\n", Missing},
        {"a key before any section", "K=x\n[S]\n", Missing},
        {"line without '='", "[S]\nK\n", Missing},
        {"first of a duplicated key", "[S]\nK=1\nK=2\n", "1"},
        {"first of a duplicated section", "[S]\nK=1\n[S]\nK=2\n", "1"},
        {"the next section ends the search", "[S]\nA=1\n[T]\nK=2\n", Missing},
        {"section header with text after it", "[s] ; the settings\nK=v\n", "v"},
        {"buffer of 4 characters", "[S]\nK=abcdef\n", "abc", 4},
        {"default cut to the buffer too", "[S]\n", "<de", 4},
    };
    TTempDir dir;
    const QString file = dir.File(QStringLiteral("case.ini"));
    for (const auto& item : cases) {
        SCOPED_TRACE(item.Name);
        WriteFile(file, item.Content);
        EXPECT_EQ(platform::GetPrivateProfileString(QStringLiteral("S"), QStringLiteral("K"), Missing, file,
                                                    item.BufferSize),
                  item.Expected);
    }
}

} // namespace
} // namespace zlt::test
