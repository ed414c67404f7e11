#include "platform/Profile.h"

#include "platform/Native.h"
#include "platform/ProfileText.h"

#include <utility>

namespace zlt::platform {

namespace {

TProfileReadHook& ReadHook() {
    static TProfileReadHook hook;
    return hook;
}

} // namespace

QString GetPrivateProfileString(const QString& ASection, const QString& AKey, const QString& ADefault,
                                const QString& AFileName, qsizetype ABufferSize) {
    // The file is read only when there is something to look up in it.
    std::optional<QByteArray> content;
    if (!ASection.isEmpty() && !AKey.isEmpty())
        content = ReadHook() ? ReadHook()(AFileName) : native::ReadRegularFile(AFileName);
    return ProfileValue(content, ASection, AKey, ADefault, ABufferSize);
}

TProfileReadHook SetProfileReadHook(TProfileReadHook AHook) { return std::exchange(ReadHook(), std::move(AHook)); }

} // namespace zlt::platform
