#include "app/MainWindow.h"

#include "common/Errors.h"
#include "common/Text.h"
#include "install/Unzipper.h"
#include "platform/Shell.h"
#include "platform/System.h"

#include <QProgressBar>

#include <algorithm>
#include <memory>

namespace zlt::app {

namespace {

// The extension as the Delphi runtime takes it: from the last "." of the file name, dot
// included; empty when the name part has no dot.
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
            unzipper->Open(AFileName);
            unzipper->BaseDirectory = platform::ExecutableFolder();
            unzipper->ProgramName = strAppliExeFile;
            try {
                unzipper->ExtractFiles(QStringLiteral("*"));
            } catch (const install::ENotEnoughSpace&) {
                // Nothing was written: like a package that can't be opened, it is deleted and
                // the application is not started as if it had been updated.
                throw;
            } catch (const std::exception&) {
                // Whatever was extracted stays; the application is started in any case.
            }
            platform::ShellExecuteOpen(strAppliExeFile, QStringLiteral("Upd=1"));
        } else {
            platform::ShellExecuteOpen(AFileName);
        }
    });
}

void TfrmMainUpdater_::UnZipperArchiveProgress(TZLTUnZipper* /*Sender*/, std::uint8_t Progress, bool& /*Abort*/) {
    Guarded(QStringLiteral("UnZipperArchiveProgress"), [this, Progress] {
        SetBarPosition(pbrFormProgress, Progress);
        pbrFormProgress->repaint();
    });
}

void TfrmMainUpdater_::UnZipperConfirmOverwrite(TZLTUnZipper* /*Sender*/, QString& /*Name*/, bool& Confirm) {
    Guarded(QStringLiteral("UnZipperConfirmOverwrite"), [&Confirm] { Confirm = true; });
}

void TfrmMainUpdater_::UnZipperConfirmProcessItem(TZLTUnZipper* /*Sender*/, const TZLTZipItem& /*Item*/,
                                                  TZLTProcessType /*ProcessType*/, bool& Confirm) {
    Guarded(QStringLiteral("UnZipperConfirmProcessItem"), [&Confirm] { Confirm = true; });
}

} // namespace zlt::app
