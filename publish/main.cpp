// zlt-publish: one step from a folder to a published, signed release; and the check of a
// published release as a client sees it.

#include "common/Errors.h"
#include "publish/Publisher.h"
#include "publish/Verifier.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

using namespace zlt;
using namespace zlt::publish;

namespace {

const char Usage[] = R"(zlt-publish: makes a release of the ZELT Updater from a folder.

  zlt-publish --from DIR --version 2.0.1 --app acme --channel Produccion|Pruebas
              --to SERVER_FOLDER [--key acme.key] [--script PHP|ASP] [--package acme.zip]
              [--expires 90d] [--force]

writes into SERVER_FOLDER/<channel>/:
  <package>                  the ZIP of DIR's files (the same bytes for the same folder)
  <package>.manifest         the release's app, version, channel, time, expiry, and the
                             size and BLAKE2b hashes of the package and of each file
  <package>.minisig, <package>.manifest.minisig
                             with --key: minisign signatures, whose trusted comment is
                             "version:V channel:C app:A" (minisign asks for the key's password)
  checkUpdates.php|.asp      the check script, answering "Outdated" below the new version
Each file is written beside its place and put in place once all are complete; on any error
nothing is written. A version that is not newer than the one in the folder is refused unless
--force is given (versions compare number by number: 2.10 is newer than 2.9).

  zlt-publish --verify SERVER_FOLDER/<channel> [--pubkey KEY | --cfi updater.cfi] [--package NAME]

checks a published release as a client would: the manifest, the signatures against KEY (a
.pub file or its key line) or the PUBKEY= keys of an updater's settings file, the package and
each of its files against the manifest, and the check script's version. One line per check;
the exit code is 1 when any check failed.

Exit codes: 0 done, 1 failed (the cause is printed), 2 wrong command line.
)";


void AddOptions(QCommandLineParser& AParser) {
    for (const char* name : {"from", "version", "app", "channel", "to", "key", "script", "package", "expires", "verify",
                             "pubkey", "cfi"})
        AParser.addOption(QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("value")));
    AParser.addOption(QCommandLineOption(QStringLiteral("force")));
    AParser.addOption(QCommandLineOption(QStringList{QStringLiteral("help"), QStringLiteral("h")}));
}

QString Required(const QCommandLineParser& AParser, const char* AName) {
    const QString value = AParser.value(QString::fromLatin1(AName));
    if (value.isEmpty()) throw EConvertError(QStringLiteral("--%1 is missing").arg(QLatin1String(AName)));
    return value;
}

TPublishOptions PublishOptions(const QCommandLineParser& AParser) {
    TPublishOptions options;
    options.From = Required(AParser, "from");
    options.Version = Required(AParser, "version");
    options.App = Required(AParser, "app");
    options.Channel = Required(AParser, "channel");
    options.To = Required(AParser, "to");
    options.Key = AParser.value(QStringLiteral("key"));
    if (AParser.isSet(QStringLiteral("script"))) options.Script = AParser.value(QStringLiteral("script"));
    options.Package = AParser.value(QStringLiteral("package"));
    options.Expires = AParser.value(QStringLiteral("expires"));
    options.Force = AParser.isSet(QStringLiteral("force"));
    return options;
}

int RunPublish(const QCommandLineParser& AParser) {
    const TPublishOptions options = PublishOptions(AParser);
    QTextStream out(stdout);
    int shown = -1; // the last tenth of the work reported
    Publish(
        options, [&out](const QString& ALine) { out << ALine << Qt::endl; },
        [&out, &shown](const QString& AStep, std::int64_t ADone, std::int64_t ATotal) {
            const int tenth = ATotal > 0 ? static_cast<int>(ADone * 10 / ATotal) : 10;
            if (tenth == shown) return;
            shown = tenth;
            out << AStep << QStringLiteral(": %1% (%2 of %3 bytes)").arg(tenth * 10).arg(ADone).arg(ATotal) << Qt::endl;
        });
    return 0;
}

int RunVerify(const QCommandLineParser& AParser) {
    TVerifyOptions options;
    options.Folder = AParser.value(QStringLiteral("verify"));
    options.PubKey = AParser.value(QStringLiteral("pubkey"));
    options.Cfi = AParser.value(QStringLiteral("cfi"));
    options.Package = AParser.value(QStringLiteral("package"));
    if (!options.PubKey.isEmpty() && !options.Cfi.isEmpty())
        throw EConvertError(QStringLiteral("--pubkey and --cfi exclude each other"));
    QTextStream out(stdout);
    const bool passed = VerifyRelease(options, [&out](TCheckVerdict AVerdict, const QString& ALine) {
        out << (AVerdict == TCheckVerdict::cvPassed   ? "OK   "
                : AVerdict == TCheckVerdict::cvFailed ? "FAIL "
                                                      : "SKIP ")
            << ALine << Qt::endl;
    });
    out << (passed ? "verified: every check passed" : "NOT verified: a check failed") << Qt::endl;
    return passed ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[]) {
    // The ZIP's entry times are converted to DOS times in the local zone: UTC makes them the
    // same on every machine.
    qputenv("TZ", "UTC0");
    const QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    AddOptions(parser);
    QTextStream error(stderr);
    if (!parser.parse(QCoreApplication::arguments())) {
        error << "zlt-publish: " << parser.errorText() << "\n(zlt-publish --help tells how to use it)" << Qt::endl;
        return 2;
    }
    if (parser.isSet(QStringLiteral("help")) || QCoreApplication::arguments().size() == 1) {
        QTextStream(stdout) << Usage << Qt::flush;
        return 0;
    }
    try {
        return parser.isSet(QStringLiteral("verify")) ? RunVerify(parser) : RunPublish(parser);
    } catch (const EConvertError& failure) {
        error << "zlt-publish: " << failure.Message() << "\n(zlt-publish --help tells how to use it)" << Qt::endl;
        return 2;
    } catch (const Exception& failure) {
        error << "zlt-publish: " << failure.Message()
              << (parser.isSet(QStringLiteral("verify")) ? "" : "\nNothing was published.") << Qt::endl;
        return 1;
    }
}
