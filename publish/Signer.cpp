#include "publish/Signer.h"

#include "common/Errors.h"
#include "common/Text.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace zlt::publish {

QString MinisignProgram() {
    const QString chosen = qEnvironmentVariable("ZLT_MINISIGN");
    if (!chosen.isEmpty()) {
        if (!QFileInfo(chosen).isExecutable())
            throw Exception(QStringLiteral("minisign \"%1\" (ZLT_MINISIGN) is not a program that can be run").arg(chosen));
        return chosen;
    }
    QString found = QStandardPaths::findExecutable(QStringLiteral("minisign"), {QCoreApplication::applicationDirPath()});
    if (found.isEmpty()) found = QStandardPaths::findExecutable(QStringLiteral("minisign"));
    if (found.isEmpty())
        throw Exception(QStringLiteral("minisign is not installed (not beside zlt-publish nor along PATH); it signs "
                                       "with --key"));
    return found;
}

void SignFiles(const QString& AKeyFile, const QStringList& AFiles, const QByteArray& AComment) {
    const QString program = MinisignProgram();
    QProcess minisign;
    // The password, when the key has one, comes from this program's own input.
    minisign.setInputChannelMode(QProcess::ForwardedInputChannel);
    minisign.setProcessChannelMode(QProcess::MergedChannels);
    minisign.start(program, QStringList{QStringLiteral("-S"), QStringLiteral("-s"), AKeyFile, QStringLiteral("-t"),
                                        QString::fromUtf8(AComment), QStringLiteral("-m")} +
                                AFiles);
    if (!minisign.waitForStarted())
        throw Exception(QStringLiteral("Cannot start minisign \"%1\": %2").arg(program, minisign.errorString()));
    // A password is typed by a person: no time limit.
    minisign.waitForFinished(-1);
    const QString said = OneLine(QString::fromLocal8Bit(minisign.readAll()).remove(QStringLiteral("Password: ")).trimmed());
    if (minisign.exitStatus() != QProcess::NormalExit || minisign.exitCode() != 0)
        throw Exception(QStringLiteral("minisign could not sign with \"%1\" (exit code %2): %3")
                            .arg(AKeyFile)
                            .arg(minisign.exitCode())
                            .arg(said.isEmpty() ? QStringLiteral("no reason given") : said));
    for (const QString& file : AFiles)
        if (!QFileInfo(file + QStringLiteral(".minisig")).isFile())
            throw Exception(QStringLiteral("minisign wrote no signature \"%1.minisig\"").arg(file));
}

} // namespace zlt::publish
