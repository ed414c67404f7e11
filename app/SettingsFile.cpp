#include "app/MainWindow.h"

#include "app/RunLog.h"
#include "app/RunSettings.h"
#include "app/Trial.h"
#include "app/UpdateSettings.h"
#include "common/Errors.h"
#include "common/Settings.h"
#include "common/Text.h"
#include "http/HttpClient.h"
#include "signature/Minisign.h"
#include "signature/Release.h"
#include "webupdater/WebUpdater.h"

#include <QLabel>

namespace zlt::app {

TUpdateSettings ReadUpdateSettings() {
    const QString section = QStringLiteral("UPDATE");
    TUpdateSettings settings;
    IniFileLoad(section, QStringLiteral("APPNAME"), QString(), settings.AppName);
    IniFileLoad(section, QStringLiteral("APPEXE"), QString(), settings.AppExe);
    IniFileLoad(section, QStringLiteral("SERVER1"), QString(), settings.Server);
    IniFileLoad(section, QStringLiteral("PATHUPD"), QString(), settings.Path);
    IniFileLoad(section, QStringLiteral("FILEPHP"), QString(), settings.FilePhp);
    IniFileLoad(section, QStringLiteral("FILEZIP"), QString(), settings.FileZip);
    IniFileLoad(section, QStringLiteral("TRIAL"), QString(), settings.Trial);
    // A default that no line gives tells a PUBKEY line that names no key from no line at all.
    const QString missing(QChar(0x1));
    IniFileLoad(section, QStringLiteral("PUBKEY"), missing, settings.PublicKeys);
    settings.PublicKeysGiven = settings.PublicKeys != missing;
    if (!settings.PublicKeysGiven) settings.PublicKeys.clear();
    return settings;
}

TUpdateAddresses BuildUpdateAddresses(const TUpdateSettings& ASettings, bool ATestMode) {
    TUpdateAddresses addresses;
    if (StringIsEmpty(ASettings.Server)) return addresses;
    addresses.CheckUrl = ASettings.Server;
    addresses.DownloadUrl = ASettings.Server;
    if (StringIsEmpty(ASettings.Path)) return addresses;
    const QString folder = ASettings.Path + u'/' +
                           (ATestMode ? QStringLiteral("Pruebas/") : QStringLiteral("Produccion/"));
    addresses.CheckUrl += folder;
    addresses.DownloadUrl += folder;
    if (!StringIsEmpty(ASettings.FilePhp)) {
        addresses.CheckUrl += ASettings.FilePhp;
        addresses.CheckReady = true;
    }
    if (!StringIsEmpty(ASettings.FileZip)) {
        addresses.DownloadUrl += ASettings.FileZip;
        addresses.DownloadReady = true;
    }
    return addresses;
}

void TfrmMainUpdater_::ConfigFileRead() {
    wupPelmoraUpda->SetPCheckUrl(QString());
    wupPelmoraUpda->SetPDownloadUrl(QString());
    wupPelmoraUpda->SetPPublicKeys({});
    Guarded(QStringLiteral("ConfigFileRead"), [this] {
        const TUpdateSettings settings = ReadUpdateSettings();
        strAppliName___ = settings.AppName;
        strAppliExeFile = settings.AppExe;
        strUpdaServer__ = settings.Server;
        strUpdaPath____ = settings.Path;
        strUpdaFilePhp_ = settings.FilePhp;
        strUpdaFileZip_ = settings.FileZip;
        const TUpdateAddresses addresses = BuildUpdateAddresses(settings, TestMode);
        if (!StringIsEmpty(settings.Server)) {
            strUpdaCheckUrl = addresses.CheckUrl;
            strUpdaDownlUrl = addresses.DownloadUrl;
        }
        if (addresses.CheckReady) wupPelmoraUpda->SetPCheckUrl(addresses.CheckUrl);
        if (addresses.DownloadReady) wupPelmoraUpda->SetPDownloadUrl(addresses.DownloadUrl);
        // Optional: with keys, a package is installed only when one of them signed it.
        QStringList keys = signature::SplitKeyList(settings.PublicKeys);
        if (settings.PublicKeysGiven && keys.isEmpty()) {
            // A line that names no key (blanks, commas) is a mistake, never a way to switch
            // signing off: no package passes until it names one.
            RunLog().Error(QStringLiteral("Settings %1: PUBKEY names no key; no package is taken until it names one")
                               .arg(SettingsFileName()));
            keys = QStringList{QString()};
        }
        wupPelmoraUpda->SetPPublicKeys(keys);
        // A release must be of this channel and of this application.
        wupPelmoraUpda->SetPReleaseChannel(TestMode ? QStringLiteral("Pruebas") : QStringLiteral("Produccion"));
        wupPelmoraUpda->SetPReleaseApp(StringIsEmpty(settings.AppExe) ? QString()
                                                                      : signature::AppOfProgram(settings.AppExe.trimmed()));
        bool trialValid = true;
        FTrialSeconds = TrialSeconds(settings.Trial, &trialValid);
        if (!trialValid)
            RunLog().Warning(QStringLiteral("Settings %1: TRIAL=%2 is no number of seconds; %3 s are used")
                                 .arg(SettingsFileName(), settings.Trial.trimmed())
                                 .arg(FTrialSeconds));
        lblUpdProduct__->setText(strAppliName___);
        LogSettings();
    });
}

void TfrmMainUpdater_::LogSettings() const {
    const auto shown = [](const QString& AURL) {
        return AURL.isEmpty() ? QStringLiteral("(none)") : http::DisplayUrl(AURL);
    };
    const qsizetype keys = wupPelmoraUpda->PPublicKeys().size();
    RunLog().Info(QStringLiteral("Settings %1: check address %2, download address %3, %4")
                      .arg(SettingsFileName(), shown(wupPelmoraUpda->PCheckUrl()),
                           shown(wupPelmoraUpda->PDownloadUrl()),
                           keys == 0 ? QStringLiteral("packages taken unsigned")
                                     : QStringLiteral("packages must be signed (%1 public keys)").arg(keys)));
}

} // namespace zlt::app
