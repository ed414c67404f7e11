#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace zlt::publish {

// The minisign program: ZLT_MINISIGN when set, else "minisign" beside zlt-publish or along
// PATH. Throws Exception when there is none.
QString MinisignProgram();

// Signs each of AFiles into "<file>.minisig" with the secret key AKeyFile and the trusted
// comment AComment, by the real minisign, which asks for the key's password on this program's
// input when the key has one. Throws Exception with minisign's own words when it fails (a
// wrong password, a damaged key).
void SignFiles(const QString& AKeyFile, const QStringList& AFiles, const QByteArray& AComment);

} // namespace zlt::publish
