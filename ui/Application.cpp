#include "ui/Application.h"

#include "common/Errors.h"
#include "ui/MessageBox.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QWidget>

#include <utility>

namespace zlt::ui {

TApplication& TApplication::Instance() {
    static TApplication application;
    return application;
}

void TApplication::SetTitle(const QString& ATitle) {
    FTitle = ATitle;
    QCoreApplication::setApplicationName(ATitle);
}

void TApplication::Terminate() {
    FTerminated = true;
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, &QCoreApplication::quit, Qt::QueuedConnection);
}

QString TApplication::ErrorBoxText(const QString& AMessage) {
    if (!AMessage.isEmpty() && AMessage.back().unicode() > u'.') return AMessage + u'.';
    return AMessage;
}

void TApplication::HandleException(const std::exception& AError) {
    const auto* common = dynamic_cast<const Exception*>(&AError);
    const QString message = common != nullptr ? common->Message() : QString::fromUtf8(AError.what());
    if (OnError) OnError(ErrorBoxText(message));
    MessageBox(ErrorBoxText(message), FTitle, MB_ICONERROR | MB_OK);
}

int TApplication::MessageBox(const QString& AText, const QString& ACaption, quint32 AFlags) {
    return ui::MessageBox(AText, ACaption, AFlags);
}

void TApplication::Own(QObject* AObject) {
    if (AObject != nullptr) FOwned.append(QPointer<QObject>(AObject));
}

void TApplication::ReleaseOwned() {
    const QList<QPointer<QObject>> owned = std::exchange(FOwned, {});
    for (const QPointer<QObject>& object : owned) delete object.data();
}

} // namespace zlt::ui
