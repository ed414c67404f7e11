// The test support's recorders and guards of process-wide state: each gives back what it found,
// to an outer one of its kind too, and also when an exception leaves its scope. A test that
// failed halfway would otherwise change the program for every test after it.

#include "http/Defaults.h"
#include "platform/Network.h"
#include "platform/Processes.h"
#include "platform/Shell.h"
#include "platform/System.h"
#include "tests/support/TestSupport.h"
#include "ui/MessageBox.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace zlt::test {
namespace {

using TSnapshot = std::optional<std::vector<platform::TProcessEntry>>;

struct TLeave {};

// Runs AInside, which throws TLeave while the guards it made are alive.
template <typename TInside>
void LeaveByException(TInside AInside) {
    try {
        AInside();
    } catch (const TLeave&) {
        return;
    }
    ADD_FAILURE() << "the scope was left normally";
}

// A setter hands back what was in force; an empty sink or hook is the real box or shell.
bool RealMessageBoxInPlace() {
    ui::TMessageBoxSink current = ui::SetMessageBoxSink({});
    const bool real = !current;
    ui::SetMessageBoxSink(std::move(current));
    return real;
}

bool RealShellInPlace() {
    platform::TShellExecuteHook current = platform::SetShellExecuteHook({});
    const bool real = !current;
    platform::SetShellExecuteHook(std::move(current));
    return real;
}

// One box and one shell call, each named AName. Refused while the real ones are in place: a
// real box would wait for a click that never comes.
void ShowAndOpen(const QString& AName) {
    ASSERT_FALSE(RealMessageBoxInPlace()) << "no recorder for " << AName.toStdString();
    ASSERT_FALSE(RealShellInPlace()) << "no recorder for " << AName.toStdString();
    ui::MessageBox(AName, QStringLiteral("nesting"), ui::MB_OK);
    platform::ShellExecuteOpen(AName);
}

QStringList Seen(const TMessageBoxRecorder& ABoxes, const TShellRecorder& AShell) {
    QStringList seen;
    for (const auto& box : ABoxes.Calls) seen << QStringLiteral("box ") + box.Text;
    for (const auto& call : AShell.Calls) seen << QStringLiteral("open ") + call.FileName;
    return seen;
}

TEST(TestRecorders, NestedRecordersEachGetWhatHappensWhileTheyAreInnermost) {
    {
        const TMessageBoxRecorder outerBoxes;
        const TShellRecorder outerShell;
        ShowAndOpen(QStringLiteral("1"));
        {
            const TMessageBoxRecorder middleBoxes;
            const TShellRecorder middleShell;
            ShowAndOpen(QStringLiteral("2"));
            {
                const TMessageBoxRecorder innerBoxes;
                const TShellRecorder innerShell;
                ShowAndOpen(QStringLiteral("3"));
                EXPECT_EQ(Seen(innerBoxes, innerShell), (QStringList{"box 3", "open 3"}));
            }
            ShowAndOpen(QStringLiteral("4"));
            EXPECT_EQ(Seen(middleBoxes, middleShell), (QStringList{"box 2", "box 4", "open 2", "open 4"}));
        }
        ShowAndOpen(QStringLiteral("5"));
        EXPECT_EQ(Seen(outerBoxes, outerShell), (QStringList{"box 1", "box 5", "open 1", "open 5"}));
    }
    EXPECT_TRUE(RealMessageBoxInPlace());
    EXPECT_TRUE(RealShellInPlace());
}

TEST(TestGuards, AnExceptionLeavingTheScopeGivesBackTheOuterValue) {
    {
        SCOPED_TRACE("executable path");
        const QString real = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
        {
            const TExeFolder outer;
            LeaveByException([] {
                const TExeFolder inner(QStringLiteral("Upd.exe"));
                EXPECT_EQ(platform::ExecutablePath(), inner.ExePath());
                throw TLeave{};
            });
            EXPECT_EQ(platform::ExecutablePath(), outer.ExePath());
        }
        EXPECT_EQ(QFileInfo(platform::ExecutablePath()).canonicalFilePath(), real);
    }
    {
        SCOPED_TRACE("environment variable");
        const char* const name = "ZLT_SCOPED_STATE_TEST";
        const TScopedEnvironmentVariable absent(name, std::nullopt);
        {
            const TScopedEnvironmentVariable outer(name, "outer");
            LeaveByException([name] {
                const TScopedEnvironmentVariable inner(name, std::nullopt);
                EXPECT_FALSE(qEnvironmentVariableIsSet(name));
                throw TLeave{};
            });
            EXPECT_EQ(qgetenv(name), "outer");
        }
        EXPECT_FALSE(qEnvironmentVariableIsSet(name)) << "absent again, not empty";
    }
    {
        SCOPED_TRACE("HTTP defaults");
        http::TZLTHttpDefaults& defaults = http::TZLTHttpDefaults::Instance();
        const TScopedHttpDefaults outer;
        defaults.StallTimeoutMs = 1500;
        const QString caFile = defaults.CaFile;
        const std::int32_t connectTimeout = defaults.ConnectTimeoutMs;
        LeaveByException([&defaults] {
            const TScopedHttpDefaults inner;
            defaults.CaFile = QStringLiteral("/nowhere/ca.pem");
            defaults.ConnectTimeoutMs = 1;
            defaults.StallTimeoutMs = 2;
            throw TLeave{};
        });
        EXPECT_EQ(defaults.CaFile, caFile);
        EXPECT_EQ(defaults.ConnectTimeoutMs, connectTimeout);
        EXPECT_EQ(defaults.StallTimeoutMs, 1500);
    }
    {
        SCOPED_TRACE("process snapshot hook");
        const auto listing = [](quint32 AId) {
            return [AId] { return TSnapshot(std::vector<platform::TProcessEntry>{{AId, QStringLiteral("a"), std::nullopt, QString()}}); };
        };
        const auto firstId = [] {
            const TSnapshot snapshot = platform::TakeProcessSnapshot();
            return snapshot && !snapshot->empty() ? snapshot->front().ProcessId : 0u;
        };
        {
            const TScopedProcessSnapshotHook outer(listing(11));
            LeaveByException([&] {
                const TScopedProcessSnapshotHook inner(listing(22));
                EXPECT_EQ(firstId(), 22u);
                throw TLeave{};
            });
            EXPECT_EQ(firstId(), 11u);
        }
        const TSnapshot system = platform::TakeProcessSnapshot();
        ASSERT_TRUE(system.has_value());
        const auto self = static_cast<quint32>(QCoreApplication::applicationPid());
        EXPECT_TRUE(std::any_of(system->begin(), system->end(), [self](const platform::TProcessEntry& AEntry) {
            return AEntry.ProcessId == self;
        })) << "the system's snapshot, with this program in it";
    }
    {
        SCOPED_TRACE("connection state");
        LeaveByException([] {
            const TScopedConnectedState offline(false);
            EXPECT_FALSE(platform::InternetGetConnectedState());
            throw TLeave{};
        });
        EXPECT_EQ(platform::InternetGetConnectedState(), ProgramConnectedState);
    }
}

} // namespace
} // namespace zlt::test
