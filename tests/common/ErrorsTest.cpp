// The error wrapper and the small text routines of uZLTGlobal.

#include "common/Errors.h"
#include "common/Processes.h"
#include "common/Settings.h"
#include "common/Text.h"
#include "platform/Processes.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <typeinfo>
#include <vector>

namespace zlt::test {
namespace {

using TSnapshot = std::optional<std::vector<platform::TProcessEntry>>;

TEST(RaiseRoutineError, ComposesTwoLinesWithThePlainCommonType) {
    try {
        RaiseRoutineError(QStringLiteral("KillProcess"), QStringLiteral("Access is denied"));
        FAIL() << "RaiseRoutineError returned";
    } catch (const Exception& error) {
        EXPECT_EQ(error.Message(), GuardLine("KillProcess") + "Access is denied");
        EXPECT_EQ(typeid(error), typeid(Exception));
    }
    // The label goes in as it stands, placeholders and all.
    try {
        RaiseRoutineError(QStringLiteral("50%s %1"), QString());
        ADD_FAILURE() << "RaiseRoutineError returned";
    } catch (const Exception& error) {
        EXPECT_EQ(error.Message(), GuardLine("50%s %1"));
    }
}

TEST(Guarded, NestedLabelsReadOutermostFirstAndEndWithTheCause) {
    try {
        Guarded(QStringLiteral("ConfigFileRead"), [] {
            Guarded(QStringLiteral("IniFileLoad"), [] { throw EConvertError(QStringLiteral("Disk on fire")); });
        });
        FAIL() << "nothing was raised";
    } catch (const Exception& error) {
        EXPECT_EQ(error.Message(), GuardLine("ConfigFileRead") + GuardLine("IniFileLoad") + "Disk on fire");
        EXPECT_EQ(typeid(error), typeid(Exception)) << "the cause's own type must not reach the caller";
    }
}

TEST(Guarded, OtherExceptionTypesPassUntouched) {
    try {
        Guarded(QStringLiteral("Outer"),
                [] { Guarded(QStringLiteral("Inner"), [] { throw std::runtime_error("raw"); }); });
        FAIL() << "nothing was raised";
    } catch (const Exception&) {
        FAIL() << "a foreign exception was wrapped";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "raw");
    }
}

TEST(Guarded, ProcessRoutinesWrapTheSnapshotFailureButCountProcessDoesNot) {
    const TScopedProcessSnapshotHook failing([]() -> TSnapshot { throw Exception(QStringLiteral("no snapshot")); });
    quint32 id = 99;
    try {
        FindProcess(QStringLiteral("App.exe"), id);
        ADD_FAILURE() << "FindProcess raised nothing";
    } catch (const Exception& error) {
        EXPECT_EQ(error.Message(), GuardLine("FindProcess") + "no snapshot");
    }
    try {
        CountProcess(QStringLiteral("App.exe"));
        ADD_FAILURE() << "CountProcess raised nothing";
    } catch (const Exception& error) {
        EXPECT_EQ(error.Message(), "no snapshot");
    }
}

TEST(ProcessWalk, NoSnapshotMeansNoProcess) {
    const TScopedProcessSnapshotHook none([]() -> TSnapshot { return std::nullopt; });
    quint32 id = 99;
    FindProcess(QStringLiteral("App.exe"), id);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(CountProcess(QStringLiteral("App.exe")), 0);
}

TEST(StringIsEmpty, OnlyCodesUpTo32AreBlank) {
    const struct {
        const char* Name;
        QString Text;
        bool Expected;
    } cases[] = {
        {"empty", QString(), true},
        {"tabs, CR and LF", QStringLiteral("\t\r\n\t"), true},
        {"NUL and other control codes", QString(QChar(0)) + QChar(0x1F) + QChar(' '), true},
        {"no-break space", QString(QChar(0xA0)), false},
        {"text between blanks", QStringLiteral("  s/ "), false},
        {"DEL", QString(QChar(0x7F)), false},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.Name);
        EXPECT_EQ(StringIsEmpty(item.Text), item.Expected);
    }
}

TEST(TextContains, IgnoresCaseAndRefusesEmptyTexts) {
    const struct {
        QString Text;
        QString SubText;
        bool Expected;
    } cases[] = {
        {QStringLiteral("<p>OUTDATED</p>"), QStringLiteral("Outdated"), true},
        {QStringLiteral("Updated"), QStringLiteral("Outdated"), false},
        {QString::fromUtf8("FUNCI\u00D3N"), QString::fromUtf8("funci\u00F3n"), true},
        {QStringLiteral("abc"), QString(), false},
        {QString(), QStringLiteral("a"), false},
        {QStringLiteral("abc"), QStringLiteral("abcd"), false},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE((item.Text + u'|' + item.SubText).toStdString());
        EXPECT_EQ(TextContains(item.Text, item.SubText), item.Expected);
    }
}

} // namespace
} // namespace zlt::test
