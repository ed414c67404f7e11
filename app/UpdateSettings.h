#pragma once

#include <QString>

namespace zlt::app {

// The section [UPDATE] of the settings file, each value as read (empty when missing).
struct TUpdateSettings {
    QString AppName;    // APPNAME: the application's name, shown in the window
    QString AppExe;     // APPEXE: the application's program file
    QString Server;     // SERVER1: the update server's address, up to the folder of PATHUPD
    QString Path;       // PATHUPD: the application's folder on the server
    QString FilePhp;    // FILEPHP: the check script in the channel's folder
    QString FileZip;    // FILEZIP: the package in the channel's folder
    QString PublicKeys; // PUBKEY: optional minisign public keys, separated by commas
    QString Trial;      // TRIAL: seconds the new version is watched after an update (see TrialSeconds)
    bool PublicKeysGiven = false; // a PUBKEY line is there, whether it names a key or not
};

// Reads every key of [UPDATE] anew through IniFileLoad, whose failures it lets pass.
TUpdateSettings ReadUpdateSettings();

// The two addresses: SERVER1, then PATHUPD + "/" and the channel's folder ("Pruebas/" for the
// test channel, "Produccion/" otherwise), then FILEPHP or FILEZIP. Nothing is inserted between
// the parts. Each is built as far as its parts go, and ready only when every part was there
// (a value of blanks counts as missing); an address that is not ready is not handed on.
struct TUpdateAddresses {
    QString CheckUrl;
    QString DownloadUrl;
    bool CheckReady = false;
    bool DownloadReady = false;
};
TUpdateAddresses BuildUpdateAddresses(const TUpdateSettings& ASettings, bool ATestMode);

} // namespace zlt::app
