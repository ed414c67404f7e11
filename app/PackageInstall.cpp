#include "app/MainWindow.h"

#include "app/RunLog.h"
#include "app/Trial.h"
#include "common/Errors.h"
#include "common/Text.h"
#include "install/Journal.h"
#include "install/Previous.h"
#include "install/Unzipper.h"
#include "platform/Shell.h"
#include "platform/System.h"

#include <QElapsedTimer>
#include <QProgressBar>

#include <algorithm>
#include <memory>

namespace zlt::app {

namespace {

// The extension of a file name: from the last "." of the name part, dot included; empty when
// the name part has no dot (so "a.d/pkg" has none).
QString ExtractFileExt(const QString& AFileName) {
    const qsizetype dot = AFileName.lastIndexOf(u'.');
    const qsizetype delimiter = std::max(AFileName.lastIndexOf(u'/'), AFileName.lastIndexOf(u'\\'));
    if (dot < 0 || dot < delimiter) return {};
    return AFileName.mid(dot);
}

} // namespace

void TfrmMainUpdater_::wupPelmoraUpdaUpdateDownloaded(TZLTWebUpdater* /*Sender*/, QString AFileName) {
    Guarded(QStringLiteral("wupPelmoraUpdaUpdateDownloaded"), [this, &AFileName] {
        pbrFormProgress->setMinimum(0);
        SetBarPosition(pbrFormProgress, 0);
        pbrFormProgress->setMaximum(100);
        pbrFormProgress->repaint();

        // Owned by the window while it lives; released here on every path.
        const std::unique_ptr<TZLTUnZipper> unzipper = std::make_unique<TZLTUnZipper>(this);
        unzipper->OnArchiveProgress = [this](TZLTUnZipper* Sender, std::uint8_t Progress, bool& Abort) {
            UnZipperArchiveProgress(Sender, Progress, Abort);
        };
        unzipper->OnConfirmOverwrite = [this](TZLTUnZipper* Sender, QString& Name, bool& Confirm) {
            UnZipperConfirmOverwrite(Sender, Name, Confirm);
        };
        unzipper->OnConfirmProcessItem = [this](TZLTUnZipper* Sender, const TZLTZipItem& Item,
                                                TZLTProcessType ProcessType, bool& Confirm) {
            UnZipperConfirmProcessItem(Sender, Item, ProcessType, Confirm);
        };
        unzipper->CreateDirs = true;
        unzipper->RestorePath = true;

        if (AsciiUpperCase(ExtractFileExt(AFileName)).contains(QStringLiteral("ZIP"))) {
            // Set again on purpose: the ZIP path states the options it relies on where it
            // uses them, whatever a later change does to the set-up above.
            unzipper->CreateDirs = true;
            unzipper->RestorePath = true;
            // A committed installation keeps what it replaced until the new version's trial.
            if (InstallPackage(*unzipper, AFileName) &&
                install::InstallationAwaitsVerdict(platform::ExecutableFolder()))
                RunTrial().Begin(strAppliExeFile, QStringLiteral("Upd=1"), FTrialSeconds);
            else
                StartProgram(strAppliExeFile, QStringLiteral("Upd=1"));
        } else {
            StartProgram(AFileName, QString());
        }
    });
}

bool TfrmMainUpdater_::InstallPackage(TZLTUnZipper& AUnZipper, const QString& AFileName) {
    AUnZipper.Open(AFileName);
    AUnZipper.BaseDirectory = platform::ExecutableFolder();
    AUnZipper.ProgramName = strAppliExeFile;
    AUnZipper.KeepReplaced = true;
    for (bool roomMade = false;; roomMade = true) {
        QElapsedTimer clock;
        clock.start();
        try {
            AUnZipper.ExtractFiles(QStringLiteral("*"));
            LogInstallation(AUnZipper, static_cast<double>(clock.nsecsElapsed()) / 1e9);
            return true;
        } catch (const install::ENotEnoughSpace& error) {
            if (!roomMade && MakeRoom(error)) continue;
            // Nothing was written: like a package that can't be opened, it is deleted and
            // the application is not started as if it had been updated.
            RunLog().Error(QStringLiteral("Installation refused: %1").arg(error.Message()));
            throw;
        } catch (const install::EInstallationUndone& error) {
            // The folder holds the old version whole; the application is started as it is.
            RunLog().Error(QStringLiteral("Installation undone: %1: %2; the application is as it was")
                               .arg(error.File(), OneLine(error.Cause())));
        } catch (const std::exception& error) {
            // Nothing was begun (no journal could be made); the application is started.
            RunLog().Error(QStringLiteral("Installation not begun: %1").arg(QString::fromUtf8(error.what())));
        }
        return false;
    }
}

bool TfrmMainUpdater_::MakeRoom(const install::ENotEnoughSpace& AShortage) {
    // The version before the current one is worth less than the update: it goes when, and only
    // when, its space is what the update lacks.
    const QString base = platform::ExecutableFolder();
    const std::int64_t kept = install::PreviousVersionBytes(base);
    if (kept == 0 || AShortage.Available() + kept < AShortage.Needed()) return false;
    if (!install::RemovePreviousVersion(base)) return false;
    RunLog().Warning(QStringLiteral("%1; the previous version kept in Updates/previous (%2 bytes) was removed to "
                                    "make room")
                         .arg(AShortage.Message())
                         .arg(kept));
    return true;
}

void TfrmMainUpdater_::LogInstallation(const TZLTUnZipper& AUnZipper, double ASeconds) {
    const TZLTUnZipper::TCounts& counts = AUnZipper.Counts();
    RunLog().Info(QStringLiteral("Installed %1 entries into %2 in %3 s: %4 files replaced, %5 added")
                      .arg(counts.Extracted)
                      .arg(AUnZipper.BaseDirectory)
                      .arg(ASeconds, 0, 'f', 2)
                      .arg(counts.Replaced)
                      .arg(counts.Added));
    if (counts.InUse > 0)
        RunLog().Info(QStringLiteral("%1 replaced files are still in use; a later run removes them").arg(counts.InUse));
}

void TfrmMainUpdater_::StartProgram(const QString& AFileName, const QString& AParameters) {
    const QString command = AParameters.isEmpty() ? AFileName : AFileName + u' ' + AParameters;
    if (platform::ShellExecuteOpen(AFileName, AParameters))
        RunLog().Info(QStringLiteral("Started %1").arg(command));
    else
        RunLog().Error(QStringLiteral("Could not start %1").arg(command));
}

void TfrmMainUpdater_::UnZipperArchiveProgress(TZLTUnZipper* /*Sender*/, std::uint8_t Progress, bool& /*Abort*/) {
    Guarded(QStringLiteral("UnZipperArchiveProgress"), [this, Progress] { MoveBar(Progress); });
}

void TfrmMainUpdater_::UnZipperConfirmOverwrite(TZLTUnZipper* /*Sender*/, QString& /*Name*/, bool& Confirm) {
    Guarded(QStringLiteral("UnZipperConfirmOverwrite"), [&Confirm] { Confirm = true; });
}

void TfrmMainUpdater_::UnZipperConfirmProcessItem(TZLTUnZipper* /*Sender*/, const TZLTZipItem& /*Item*/,
                                                  TZLTProcessType /*ProcessType*/, bool& Confirm) {
    Guarded(QStringLiteral("UnZipperConfirmProcessItem"), [&Confirm] { Confirm = true; });
}

} // namespace zlt::app
