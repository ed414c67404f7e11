#include "webupdater/PackageRecord.h"

#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

namespace zlt::webupdater {

namespace {

namespace fs = std::filesystem;

// Whether APath is a regular file itself, or (AMayBeMissing) nothing at all.
bool PlainFile(const QString& APath, bool AMayBeMissing) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(platform::FileSystemPath(APath), error);
    return fs::is_regular_file(status) || (AMayBeMissing && !fs::exists(status));
}

} // namespace

QString PackageRecordFile(const QString& AFolder) { return QDir(AFolder).filePath(QStringLiteral("packages.list")); }

void RecordPackage(const QString& AFileName) {
    const QFileInfo package(AFileName);
    const QString record = PackageRecordFile(package.absolutePath());
    if (!PlainFile(record, true)) return;
    QFile file(record);
    if (file.open(QIODevice::Append)) file.write(package.fileName().toUtf8() + '\n');
}

int RemoveRecordedPackages(const QString& AFolder) {
    const QString record = PackageRecordFile(AFolder);
    if (!PlainFile(record, false)) return 0;
    QFile file(record);
    if (!file.open(QIODevice::ReadOnly)) return 0;
    int removed = 0;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QString name = QString::fromUtf8(line);
        if (name.isEmpty() || name.contains(u'/') || name.contains(u'\\') || name == QLatin1String("..") ||
            name == QLatin1String("."))
            continue;
        const QString path = QDir(AFolder).filePath(name);
        if (PlainFile(path, false) && platform::RemoveFile(path).isEmpty()) ++removed;
    }
    file.close();
    platform::RemoveFile(record);
    return removed;
}

QString RunLockFile(const QString& AFolder) { return AFolder + QStringLiteral("/updater.lock"); }

} // namespace zlt::webupdater
