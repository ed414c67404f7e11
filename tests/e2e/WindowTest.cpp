// The real updater's window on a real X server (Xvfb): what hiding the title bar does on Linux.

#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <string>

namespace zlt::test {
namespace {

// Xvfb on a display number it picks itself; stopped with the object.
class TXvfb {
public:
    TXvfb() {
        FProcess.start(QStringLiteral("Xvfb"),
                       {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                        QStringLiteral("0"), QStringLiteral("800x600x24"), QStringLiteral("-nolisten"),
                        QStringLiteral("tcp")});
        if (FProcess.waitForStarted(10000) && WaitFor([&] { return FProcess.canReadLine(); }, 20000))
            FDisplay = QStringLiteral(":") + QString::fromLatin1(FProcess.readLine()).trimmed();
    }
    ~TXvfb() {
        FProcess.terminate();
        if (!FProcess.waitForFinished(5000)) FProcess.kill();
        FProcess.waitForFinished(5000);
    }
    QString Display() const { return FDisplay; } // empty when it did not start

private:
    QProcess FProcess;
    QString FDisplay;
};

QString RunX11Tool(const QString& ADisplay, const QString& AProgram, const QStringList& AArguments) {
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), ADisplay);
    tool.setProcessEnvironment(environment);
    tool.start(AProgram, AArguments);
    tool.waitForFinished(10000);
    return QString::fromLocal8Bit(tool.readAllStandardOutput());
}

// Hiding the title bar on X11 asks the window manager for no decorations at all
// (_MOTIF_WM_HINTS with the decorations field set and empty): the whole frame goes, border
// included, and the window is its client area alone, 472 x 125 pixels.
TEST(UpdaterWindow, OnX11TheWholeFrameGoes) {
    for (const char* program : {"Xvfb", "xwininfo", "xprop"}) ZLT_REQUIRE_PROGRAM(QString::fromLatin1(program));
    TXvfb xvfb;
    ASSERT_FALSE(xvfb.Display().isEmpty()) << "Xvfb did not start";
    TTempDir dir;
    const QString name = QStringLiteral("updater-frame-%1").arg(QCoreApplication::applicationPid());
    ASSERT_TRUE(QFile::copy(BinDir() + QStringLiteral("/updater"), dir.File(name)));
    // Without settings there is nothing to fetch: the window shows for about two seconds.
    QProcess updater;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), xvfb.Display());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    updater.setProcessEnvironment(environment);
    updater.start(dir.File(name), {QStringLiteral("VER=1.0")});
    ASSERT_TRUE(updater.waitForStarted(10000));

    // The top-level window carries the program's class name.
    const QRegularExpression line(
        QStringLiteral("^\\s*(0x[0-9a-f]+) .*\\(\"%1\"").arg(QRegularExpression::escape(name)),
        QRegularExpression::MultilineOption);
    QString window;
    QString geometry;
    WaitFor(
        [&] {
            const QString tree = RunX11Tool(xvfb.Display(), QStringLiteral("xwininfo"),
                                            {QStringLiteral("-root"), QStringLiteral("-tree")});
            const QRegularExpressionMatch match = line.match(tree);
            if (!match.hasMatch()) return updater.state() == QProcess::NotRunning;
            window = match.captured(1);
            geometry = tree.mid(match.capturedStart()).section(u'\n', 0, 0);
            return true;
        },
        // A loaded machine (the sanitizer build, other test programs beside this one) can be
        // slow to start the program and its connection to the X server.
        30000);
    ASSERT_FALSE(window.isEmpty()) << "the updater's window never appeared; the updater "
                                   << (updater.state() == QProcess::NotRunning
                                           ? "ended with exit code " + std::to_string(updater.exitCode()) + ": " +
                                                 updater.readAllStandardError().toStdString()
                                           : std::string("still runs"));
    const QString hints = RunX11Tool(xvfb.Display(), QStringLiteral("xprop"),
                                     {QStringLiteral("-id"), window, QStringLiteral("_MOTIF_WM_HINTS")});
    const QRegularExpressionMatch fields =
        QRegularExpression(QStringLiteral("= (0x[0-9a-f]+), (0x[0-9a-f]+), (0x[0-9a-f]+)")).match(hints);
    ASSERT_TRUE(fields.hasMatch()) << hints.toStdString();
    EXPECT_NE(fields.captured(1).toUInt(nullptr, 16) & 0x2u, 0u) << "the decorations field is not set";
    EXPECT_EQ(fields.captured(3).toUInt(nullptr, 16), 0u) << "some decoration is asked for: " << hints.toStdString();
    EXPECT_TRUE(geometry.contains(QLatin1String("472x125"))) << geometry.toStdString();

    ASSERT_TRUE(updater.waitForFinished(30000));
    EXPECT_EQ(updater.exitCode(), 0);
}

} // namespace
} // namespace zlt::test
