// One package download through one of the component's transports, timed, for run.sh to
// compare with curl. The package is deleted once it has been handed over, so repeated runs of
// a large package do not fill the disk; with --keep it stays for the caller to remove outside
// the timed run, as curl's output does (deleting a freshly written gigabyte takes a good part
// of a second on ext4).

#include "platform/Files.h"
#include "platform/Network.h"
#include "platform/System.h"
#include "ui/Application.h"
#include "ui/Graphics.h"
#include "webupdater/ProgressDialog.h"
#include "webupdater/WebUpdater.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace zlt {
using namespace zlt::webupdater;

namespace {

enum class TTransport : std::uint8_t { tComponent, tRest, tPlatform };

struct TBenchOptions {
    TTransport Transport = TTransport::tComponent;
    QString Url;
    QString Folder;
    bool Dialog = false;
    bool Events = false;
    bool Keep = false;
    QStringList PublicKeys; // empty: packages taken unsigned
};

// What the host events saw; the work a real host would do with them (a percentage for a bar
// of its own) is done, so that attached events cost what they cost in an application.
struct TEventTally {
    std::int32_t Maximum = 0;
    std::int64_t Calls = 0;
    std::int32_t Percent = 0;
};

[[noreturn]] void Usage(const QCommandLineParser& AParser, const QString& AError) {
    QTextStream(stderr) << AError << "\n\n" << AParser.helpText();
    std::exit(2);
}

TBenchOptions ParseOptions(const QApplication& AApp) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Downloads one package through one transport of the web updater."));
    parser.addHelpOption();
    const QCommandLineOption transport(QStringLiteral("transport"), QStringLiteral("component, rest or platform."),
                                       QStringLiteral("name"));
    const QCommandLineOption url(QStringLiteral("url"), QStringLiteral("Address of the package."),
                                 QStringLiteral("url"));
    const QCommandLineOption folder(QStringLiteral("folder"),
                                    QStringLiteral("Folder that stands for the executable's folder; the package goes "
                                                   "to its updater/Updates/."),
                                    QStringLiteral("dir"));
    const QCommandLineOption dialog(QStringLiteral("dialog"), QStringLiteral("Show the default progress dialog."));
    const QCommandLineOption events(QStringLiteral("events"),
                                    QStringLiteral("Attach both progress events of the host."));
    const QCommandLineOption keep(QStringLiteral("keep"),
                                  QStringLiteral("Leave the package in place for the caller to remove."));
    const QCommandLineOption pubkey(QStringLiteral("pubkey"),
                                    QStringLiteral("Require a signature by this minisign public key (base64 line)."),
                                    QStringLiteral("key"));
    parser.addOptions({transport, url, folder, dialog, events, keep, pubkey});
    parser.process(AApp);

    TBenchOptions options;
    const QString name = parser.value(transport);
    if (name == QLatin1String("component"))
        options.Transport = TTransport::tComponent;
    else if (name == QLatin1String("rest"))
        options.Transport = TTransport::tRest;
    else if (name == QLatin1String("platform"))
        options.Transport = TTransport::tPlatform;
    else
        Usage(parser, QStringLiteral("--transport must be component, rest or platform."));
    options.Url = parser.value(url);
    options.Folder = parser.value(folder);
    if (options.Url.isEmpty() || options.Folder.isEmpty())
        Usage(parser, QStringLiteral("--url and --folder are needed."));
    options.Dialog = parser.isSet(dialog);
    options.Events = parser.isSet(events);
    options.Keep = parser.isSet(keep);
    options.PublicKeys = parser.values(pubkey);
    return options;
}

int Run(const TBenchOptions& AOptions) {
    const QString folder = QDir(AOptions.Folder).absoluteFilePath(QStringLiteral("updater"));
    if (!QDir().mkpath(folder)) {
        QTextStream(stderr) << "Cannot create " << folder << "\n";
        return 1;
    }
    // The component writes beside "its executable": make that a file in the bench's folder,
    // on the disk curl writes to as well.
    platform::SetExecutablePathOverride(QDir(folder).absoluteFilePath(QStringLiteral("updater")));

    QObject owner;
    TZLTWebUpdater updater(&owner);
    updater.SetPDownloadUrl(AOptions.Url);
    updater.SetPUseDefaultForm(AOptions.Dialog);
    updater.SetPPublicKeys(AOptions.PublicKeys);
    updater.OnLog = [](TZLTWebUpdater*, TLogLevel ALevel, const QString& AText) {
        if (ALevel != TLogLevel::llInfo) QTextStream(stderr) << AText << "\n";
    };

    TEventTally tally;
    if (AOptions.Events) {
        updater.OnDownLoadStart = [&tally](TZLTWebUpdater*, std::int32_t AMax) { tally.Maximum = AMax; };
        updater.OnProgressEvent = [&tally](TZLTWebUpdater*, std::int32_t APosition) {
            ++tally.Calls;
            if (tally.Maximum > 0)
                tally.Percent = static_cast<std::int32_t>(static_cast<std::int64_t>(APosition) * 100 / tally.Maximum);
        };
    }
    QString package;
    updater.OnUpdateDownloaded = [&package](TZLTWebUpdater*, QString AFileName) { package = AFileName; };

    // The component opens its own dialog only for the plain download; the other two need one.
    if (AOptions.Dialog && AOptions.Transport != TTransport::tComponent) CreateUpdaterDialog()->show();

    const auto started = std::chrono::steady_clock::now();
    switch (AOptions.Transport) {
    case TTransport::tComponent: updater.DownloadUpdates(); break;
    case TTransport::tRest: updater.DownloadUpdatesRest(); break;
    case TTransport::tPlatform: updater.DownloadUpdatesNetHTTPClient(); break;
    }
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;

    FreeUpdaterDialog();
    ui::Application().ReleaseOwned();

    if (package.isEmpty()) {
        std::printf("no package was handed over after %.3f s\n", seconds.count());
        return 1;
    }
    const qint64 bytes = QFileInfo(package).size();
    if (!AOptions.Keep) platform::DeleteFile(package);
    std::printf("bytes %lld seconds %.3f events %lld percent %d file %s\n", static_cast<long long>(bytes),
                seconds.count(), static_cast<long long>(tally.Calls), tally.Percent, qPrintable(package));
    return 0;
}

} // namespace
} // namespace zlt

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    try {
        const zlt::TBenchOptions options = zlt::ParseOptions(app);
        zlt::ui::LoadWindowsFonts();
        zlt::platform::ForceConnectedState(true);
        return zlt::Run(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
