#include "signature/Release.h"

#include "common/Errors.h"

#include <QList>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <vector>

namespace zlt::signature {

namespace {

std::optional<std::vector<qulonglong>> VersionNumbers(const QString& AText) {
    if (AText.isEmpty()) return std::nullopt;
    std::vector<qulonglong> numbers;
    for (const QString& part : AText.split(u'.')) {
        // Digits only: toULongLong would also take blanks and a sign.
        if (part.isEmpty() || std::any_of(part.begin(), part.end(), [](QChar c) { return c < u'0' || c > u'9'; }))
            return std::nullopt;
        bool ok = false;
        numbers.push_back(part.toULongLong(&ok));
        if (!ok) return std::nullopt;
    }
    return numbers;
}

} // namespace

bool IsVersion(const QString& AText) { return VersionNumbers(AText).has_value(); }

int CompareVersions(const QString& AVersion, const QString& AOther) {
    const auto left = VersionNumbers(AVersion);
    const auto right = VersionNumbers(AOther);
    if (!left || !right)
        throw Exception(QStringLiteral("\"%1\" is not a version (numbers separated by dots)").arg(left ? AOther : AVersion));
    for (std::size_t i = 0; i < std::max(left->size(), right->size()); ++i) {
        const qulonglong a = i < left->size() ? (*left)[i] : 0;
        const qulonglong b = i < right->size() ? (*right)[i] : 0;
        if (a != b) return a < b ? -1 : 1;
    }
    return 0;
}

TReleaseFacts ParseTrustedComment(const QByteArray& AComment) {
    TReleaseFacts facts;
    const QString text = QString::fromUtf8(AComment);
    for (const QString& word : text.split(QRegularExpression(QStringLiteral("[ \t]+")), Qt::SkipEmptyParts)) {
        const qsizetype colon = word.indexOf(u':');
        if (colon <= 0) continue;
        const QString key = word.left(colon);
        const QString value = word.mid(colon + 1);
        if (key == QLatin1String("version"))
            facts.Version = value;
        else if (key == QLatin1String("channel"))
            facts.Channel = value;
        else if (key == QLatin1String("app"))
            facts.App = value;
        else if (key == QLatin1String("file"))
            facts.File = value;
    }
    return facts;
}

QByteArray TrustedComment(const QString& AVersion, const QString& AChannel, const QString& AApp) {
    return QStringLiteral("version:%1 channel:%2 app:%3").arg(AVersion, AChannel, AApp).toUtf8();
}

namespace {

void CheckVersion(const QString& AVersion, const QString& AInstalled) {
    if (!IsVersion(AVersion)) throw Exception(QStringLiteral("version \"%1\" is not a version").arg(AVersion));
    // An installed version that is no version (the application passed something else) can't
    // be compared: the release is taken on its other facts.
    if (IsVersion(AInstalled) && CompareVersions(AVersion, AInstalled) < 0)
        throw Exception(QStringLiteral("version %1 is older than the installed %2").arg(AVersion, AInstalled));
}

// A file name as minisign may have written it: with the folder it was signed in.
QString BaseName(const QString& APath) {
    return APath.mid(std::max(APath.lastIndexOf(u'/'), APath.lastIndexOf(u'\\')) + 1);
}

} // namespace

void CheckRelease(const TReleaseFacts& AFacts, const TExpectedRelease& AExpected) {
    if (AFacts.Version && !AExpected.InstalledVersion.isEmpty()) CheckVersion(*AFacts.Version, AExpected.InstalledVersion);
    if (AFacts.Channel && !AExpected.Channel.isEmpty() && *AFacts.Channel != AExpected.Channel)
        throw Exception(QStringLiteral("package of channel %1 offered on %2").arg(*AFacts.Channel, AExpected.Channel));
    if (AFacts.App && !AExpected.App.isEmpty() && AFacts.App->compare(AExpected.App, Qt::CaseInsensitive) != 0)
        throw Exception(QStringLiteral("package of app %1 offered for %2").arg(*AFacts.App, AExpected.App));
    if (AFacts.File && !AExpected.File.isEmpty() && BaseName(*AFacts.File) != AExpected.File)
        throw Exception(QStringLiteral("signature of file %1 offered as %2").arg(*AFacts.File, AExpected.File));
    if (AFacts.Expires && AExpected.Now.isValid() && *AFacts.Expires <= AExpected.Now)
        throw Exception(QStringLiteral("release expired on %1").arg(AFacts.Expires->toString(Qt::ISODate)));
}

QString AppOfProgram(const QString& AProgram) {
    const QString name = BaseName(AProgram);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 ? name.left(dot) : name;
}

} // namespace zlt::signature
