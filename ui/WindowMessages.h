#pragma once

#include <QEvent>
#include <QString>

namespace zlt::ui {

// Registered window messages: one id per name, the same for every caller in the process,
// counted from 0xC000 like the system's own.
quint32 RegisterWindowMessage(const QString& AName);

// A registered message as it reaches a window: the id, the text that wParam points to (copied,
// so the receiver may keep it) and lParam.
class TWindowMessageEvent : public QEvent {
public:
    static QEvent::Type EventType();
    TWindowMessageEvent(quint32 AMsg, QString AText, qintptr ALParam);
    quint32 Msg() const { return FMsg; }
    const QString& Text() const { return FText; }
    qintptr LParam() const { return FLParam; }
    // The receiver's answer, handed back to the sender.
    qintptr Result() const { return FResult; }
    void SetResult(qintptr AResult) { FResult = AResult; }

private:
    quint32 FMsg;
    QString FText;
    qintptr FLParam;
    qintptr FResult = 0;
};

// Sends AMsg synchronously to the application's main window: handling has finished when the
// call returns. Returns the receiver's answer, 0 when nobody handled it or there is no main
// window. Message 0 (never registered) is ignored.
qintptr SendMessageToMainWindow(quint32 AMsg, const QString& AText, qintptr ALParam);

} // namespace zlt::ui
