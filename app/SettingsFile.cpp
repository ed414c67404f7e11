#include "app/MainWindow.h"

#include "app/RunLog.h"
#include "app/RunSettings.h"
#include "common/Errors.h"
#include "common/Settings.h"
#include "common/Text.h"
#include "http/HttpClient.h"
#include "signature/Minisign.h"
#include "webupdater/WebUpdater.h"

#include <QLabel>

namespace zlt::app {

void TfrmMainUpdater_::ConfigFileRead() {
    wupPelmoraUpda->SetPCheckUrl(QString());
    wupPelmoraUpda->SetPDownloadUrl(QString());
    wupPelmoraUpda->SetPPublicKeys({});
    Guarded(QStringLiteral("ConfigFileRead"), [this] {
        const QString section = QStringLiteral("UPDATE");
        IniFileLoad(section, QStringLiteral("APPNAME"), QString(), strAppliName___);
        IniFileLoad(section, QStringLiteral("APPEXE"), QString(), strAppliExeFile);
        IniFileLoad(section, QStringLiteral("SERVER1"), QString(), strUpdaServer__);
        IniFileLoad(section, QStringLiteral("PATHUPD"), QString(), strUpdaPath____);
        IniFileLoad(section, QStringLiteral("FILEPHP"), QString(), strUpdaFilePhp_);
        IniFileLoad(section, QStringLiteral("FILEZIP"), QString(), strUpdaFileZip_);
        // Optional: with keys, a package is installed only when one of them signed it.
        QString publicKeys;
        IniFileLoad(section, QStringLiteral("PUBKEY"), QString(), publicKeys);
        if (ConfigFileReadTestHook) ConfigFileReadTestHook();

        bool checkReady = false;
        bool downloadReady = false;
        if (!StringIsEmpty(strUpdaServer__)) {
            strUpdaCheckUrl = strUpdaServer__;
            strUpdaDownlUrl = strUpdaServer__;
            if (!StringIsEmpty(strUpdaPath____)) {
                const QString folder = strUpdaPath____ + u'/' +
                                       (TestMode ? QStringLiteral("Pruebas/") : QStringLiteral("Produccion/"));
                strUpdaCheckUrl += folder;
                strUpdaDownlUrl += folder;
                if (!StringIsEmpty(strUpdaFilePhp_)) {
                    strUpdaCheckUrl += strUpdaFilePhp_;
                    checkReady = true;
                }
                if (!StringIsEmpty(strUpdaFileZip_)) {
                    strUpdaDownlUrl += strUpdaFileZip_;
                    downloadReady = true;
                }
            }
        }
        if (checkReady) wupPelmoraUpda->SetPCheckUrl(strUpdaCheckUrl);
        if (downloadReady) wupPelmoraUpda->SetPDownloadUrl(strUpdaDownlUrl);
        wupPelmoraUpda->SetPPublicKeys(signature::SplitKeyList(publicKeys));
        lblUpdProduct__->setText(strAppliName___);
        const auto shown = [](const QString& AURL) {
            return AURL.isEmpty() ? QStringLiteral("(none)") : http::DisplayUrl(AURL);
        };
        const qsizetype keys = wupPelmoraUpda->PPublicKeys().size();
        RunLog().Info(
            QStringLiteral("Settings %1: check address %2, download address %3, %4")
                .arg(SettingsFileName(), shown(wupPelmoraUpda->PCheckUrl()), shown(wupPelmoraUpda->PDownloadUrl()),
                     keys == 0 ? QStringLiteral("packages taken unsigned")
                               : QStringLiteral("packages must be signed (%1 public keys)").arg(keys)));
    });
}

} // namespace zlt::app
