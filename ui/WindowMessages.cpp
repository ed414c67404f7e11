#include "ui/WindowMessages.h"

#include "ui/Application.h"

#include <QCoreApplication>
#include <QHash>
#include <QWidget>

#include <mutex>
#include <utility>

namespace zlt::ui {

namespace {

constexpr quint32 FirstRegisteredMessage = 0xC000;
constexpr quint32 LastRegisteredMessage = 0xFFFF;

} // namespace

quint32 RegisterWindowMessage(const QString& AName) {
    static std::mutex lock;
    static QHash<QString, quint32> ids;
    static quint32 next = FirstRegisteredMessage;
    if (AName.isEmpty()) return 0;

    // Names compare without regard to case, as the system's atom table does.
    const QString key = AName.toCaseFolded();
    const std::lock_guard guard(lock);
    if (const auto found = ids.constFind(key); found != ids.constEnd()) return found.value();
    if (next > LastRegisteredMessage) return 0;
    ids.insert(key, next);
    return next++;
}

QEvent::Type TWindowMessageEvent::EventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

TWindowMessageEvent::TWindowMessageEvent(quint32 AMsg, QString AText, qintptr ALParam)
    : QEvent(EventType()), FMsg(AMsg), FText(std::move(AText)), FLParam(ALParam) {}

qintptr SendMessageToMainWindow(quint32 AMsg, const QString& AText, qintptr ALParam) {
    if (AMsg == 0) return 0;
    QWidget* window = Application().MainForm();
    if (window == nullptr) return 0;
    TWindowMessageEvent message(AMsg, AText, ALParam);
    QCoreApplication::sendEvent(window, &message);
    return message.Result();
}

} // namespace zlt::ui
