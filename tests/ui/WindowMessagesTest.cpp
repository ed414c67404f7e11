// Registered window messages and their synchronous delivery to the main window.

#include "ui/WindowMessages.h"
#include "ui/Application.h"

#include <QWidget>

#include <gtest/gtest.h>

namespace zlt::test {

using namespace zlt::ui;

namespace {

using ui::RegisterWindowMessage;
using ui::SendMessageToMainWindow;
using ui::TWindowMessageEvent;

TEST(WindowMessages, OneIdPerNameWhateverTheCase) {
    const quint32 apply = RegisterWindowMessage(QStringLiteral("ZLT_TEST_APPLY"));
    const quint32 other = RegisterWindowMessage(QStringLiteral("ZLT_TEST_OTHER"));
    EXPECT_GE(apply, 0xC000u);
    EXPECT_LE(apply, 0xFFFFu);
    EXPECT_NE(apply, other);
    EXPECT_EQ(RegisterWindowMessage(QStringLiteral("ZLT_TEST_APPLY")), apply);
    EXPECT_EQ(RegisterWindowMessage(QStringLiteral("zlt_test_apply")), apply);
    EXPECT_EQ(RegisterWindowMessage(QString()), 0u);
}

class TReceiver : public QWidget {
public:
    int Received = 0;
    quint32 Msg = 0;
    QString Text;
    qintptr LParam = -1;

protected:
    bool event(QEvent* AEvent) override {
        if (AEvent->type() != TWindowMessageEvent::EventType()) return QWidget::event(AEvent);
        const auto* message = static_cast<TWindowMessageEvent*>(AEvent);
        ++Received;
        Msg = message->Msg();
        Text = message->Text();
        LParam = message->LParam();
        static_cast<TWindowMessageEvent*>(AEvent)->SetResult(7);
        return true;
    }
};

TEST(WindowMessages, SentSynchronouslyToTheMainWindow) {
    const quint32 id = RegisterWindowMessage(QStringLiteral("ZLT_TEST_SEND"));
    Application().SetMainForm(nullptr);
    EXPECT_EQ(SendMessageToMainWindow(id, QStringLiteral("x"), 0), 0) << "no main window";

    TReceiver window;
    Application().SetMainForm(&window);
    EXPECT_EQ(SendMessageToMainWindow(0, QStringLiteral("ignored"), 0), 0);
    EXPECT_EQ(window.Received, 0) << "message 0 reached the window";

    // Handled before the call returns, the text copied, the receiver's answer handed back.
    const QString text = QStringLiteral("/tmp/Updates/update20250101_120000.zip");
    EXPECT_EQ(SendMessageToMainWindow(id, text, 0), 7);
    EXPECT_EQ(window.Received, 1);
    EXPECT_EQ(window.Msg, id);
    EXPECT_EQ(window.Text, QStringLiteral("/tmp/Updates/update20250101_120000.zip"));
    EXPECT_EQ(window.LParam, 0);
    Application().SetMainForm(nullptr);
}

} // namespace
} // namespace zlt::test
