#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace zlt::signature {

// A release's version: numbers separated by dots ("2.0.1"). Compared number by number, a
// missing number counting as 0: 2.10 is newer than 2.9, and 2.0 is 2.0.0.
bool IsVersion(const QString& AText);
// <0, 0 or >0 as AVersion is older than, equal to or newer than AOther; throws Exception when
// either is not a version.
int CompareVersions(const QString& AVersion, const QString& AOther);

// The facts a release states about itself: in its manifest, or in the trusted comment of its
// package's signature. A fact the release does not state is empty (nullopt).
struct TReleaseFacts {
    std::optional<QString> Version;
    std::optional<QString> Channel;
    std::optional<QString> App;
    std::optional<QString> File;       // the package's file name
    std::optional<QDateTime> Expires; // UTC
    // Whether it says which release it is at all: a version, a channel or an app.
    bool Versioned() const { return Version || Channel || App; }
};

// The key:value fields of a trusted comment, separated by spaces or tabs ("version:2.0.1
// channel:Produccion app:acme", or minisign's own "timestamp:...<TAB>file:acme.zip<TAB>hashed");
// other words are ignored, and so is a field of an unknown key.
TReleaseFacts ParseTrustedComment(const QByteArray& AComment);
// The trusted comment that zlt-publish signs with.
QByteArray TrustedComment(const QString& AVersion, const QString& AChannel, const QString& AApp);

// What the client expects of a release. An empty value is not checked.
struct TExpectedRelease {
    QString InstalledVersion; // an older release is refused; the same version is taken
    QString Channel;          // "Produccion" or "Pruebas"
    QString App;              // compared without regard to letter case
    QString File;             // the package's file name
    QDateTime Now;            // for the expiry; invalid: not checked
};

// Throws Exception naming the first stated fact that AExpected refuses ("version 1.9 is older
// than the installed 2.0", "package of channel Pruebas offered on Produccion"...). A fact the
// release does not state passes.
void CheckRelease(const TReleaseFacts& AFacts, const TExpectedRelease& AExpected);

// The app a program file is: its name without folder (either separator) and extension
// ("C:\Acme\acme.exe" and "acme" are both "acme").
QString AppOfProgram(const QString& AProgram);

} // namespace zlt::signature
