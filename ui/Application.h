#pragma once

#include <QList>
#include <QPointer>
#include <QString>

#include <exception>
#include <functional>

class QObject;
class QWidget;

namespace zlt::ui {

// The application object: title, main window, quit request, the default error box and the
// objects it owns (released when it is released). One per process, on the GUI thread.
class TApplication {
public:
    static TApplication& Instance();

    QString Title() const { return FTitle; }
    void SetTitle(const QString& ATitle);

    QWidget* MainForm() const { return FMainForm; }
    void SetMainForm(QWidget* AForm) { FMainForm = AForm; }

    // Posts a quit request to the event loop; it acts once control is back there.
    void Terminate();
    bool Terminated() const { return FTerminated; }
    void ResetTerminated() { FTerminated = false; }

    // The default error display: an error box titled with Title() showing the message, with a
    // "." appended when the message's last character code is above 46. The program carries on.
    void HandleException(const std::exception& AError);
    // Told the text of every error box that HandleException shows, for the program's record.
    std::function<void(const QString& AText)> OnError;
    static QString ErrorBoxText(const QString& AMessage);

    // A modal message box through the program's one message-box sink.
    int MessageBox(const QString& AText, const QString& ACaption, quint32 AFlags);

    // Takes ownership of a top-level object; it is deleted by ReleaseOwned() unless something
    // else deleted it first.
    void Own(QObject* AObject);
    void ReleaseOwned();

private:
    TApplication() = default;

    QString FTitle;
    QPointer<QWidget> FMainForm;
    bool FTerminated = false;
    QList<QPointer<QObject>> FOwned;
};

inline TApplication& Application() { return TApplication::Instance(); }

} // namespace zlt::ui
