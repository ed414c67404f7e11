#pragma once

#include <QString>

#include <functional>

namespace zlt::publish {

struct TVerifyOptions {
    QString Folder;  // SERVER_FOLDER/<channel>
    QString PubKey;  // a minisign .pub file, or its key line; empty: from Cfi
    QString Cfi;     // an updater's settings file: its PUBKEY= keys and its APPEXE's app
    QString Package; // the package's file name; empty: the one manifest in Folder
};

enum class TCheckVerdict { cvPassed, cvFailed, cvSkipped };

// Checks a published release as a client would: the manifest, the channel it is in, the
// signatures of the manifest and the package against the trusted keys, the package and each
// of its entries against the manifest, and the check script's version. AReport gets one line
// per check; returns whether none failed. Throws only when the options are unusable.
bool VerifyRelease(const TVerifyOptions& AOptions,
                   const std::function<void(TCheckVerdict AVerdict, const QString& ALine)>& AReport);

} // namespace zlt::publish
