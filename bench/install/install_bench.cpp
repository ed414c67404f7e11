// Installs a package as the updater does: folders created, stored paths kept, every
// confirmation answered yes, the progress handler called after each entry.
//
//   zlt_install_bench PACKAGE.zip FOLDER
//   zlt_install_bench --recover FOLDER     applies the journal that a killed installation left
//
// Exit code 0 when every entry landed (or the recovery had no problem), 1 when the installation
// was undone (the cause on stderr), 2 on error.

#include "install/Journal.h"
#include "install/Unzipper.h"
#include "platform/Exception.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3) {
        std::fprintf(stderr, "usage: zlt_install_bench PACKAGE.zip FOLDER | --recover FOLDER\n");
        return 2;
    }
    if (arguments[1] == QLatin1String("--recover")) {
        const zlt::install::TRecovery recovery = zlt::install::RecoverInstallation(arguments[2]);
        std::printf("journal %s, %s: %d restored, %d removed\n", recovery.Found ? "found" : "absent",
                    recovery.Forward ? "forwards" : "backwards", recovery.Restored, recovery.Removed);
        for (const QString& problem : recovery.Problems) std::fprintf(stderr, "%s\n", qPrintable(problem));
        return recovery.Problems.isEmpty() ? 0 : 1;
    }
    try {
        QObject owner;
        zlt::install::TZLTUnZipper unzipper(&owner);
        int lastProgress = -1;
        unzipper.OnArchiveProgress = [&](zlt::install::TZLTUnZipper*, std::uint8_t AProgress, bool&) {
            lastProgress = AProgress;
        };
        unzipper.OnConfirmOverwrite = [](zlt::install::TZLTUnZipper*, QString&, bool& AConfirm) { AConfirm = true; };
        unzipper.OnConfirmProcessItem = [](zlt::install::TZLTUnZipper*, const zlt::install::TZLTZipItem&,
                                           zlt::install::TZLTProcessType, bool& AConfirm) { AConfirm = true; };
        unzipper.CreateDirs = true;
        unzipper.RestorePath = true;
        unzipper.Open(arguments[1]);
        unzipper.BaseDirectory = arguments[2] + u'/';
        unzipper.ExtractFiles(QStringLiteral("*"));
        if (lastProgress != 100) {
            std::fprintf(stderr, "the progress ended at %d\n", lastProgress);
            return 2;
        }
        return 0;
    } catch (const zlt::install::EInstallationUndone& e) {
        std::fprintf(stderr, "undone: %s\n", e.what());
        return 1;
    } catch (const zlt::platform::Exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 2;
    }
}
