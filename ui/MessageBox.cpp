#include "ui/MessageBox.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <utility>

namespace zlt::ui {

namespace {

TMessageBoxSink& Sink() {
    static TMessageBoxSink sink;
    return sink;
}

QMessageBox::Icon IconOf(quint32 AFlags) {
    switch (AFlags & 0xF0) {
    case 0x10: return QMessageBox::Critical;
    case 0x20: return QMessageBox::Question;
    case 0x30: return QMessageBox::Warning;
    case 0x40: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

} // namespace

int MessageBox(const QString& AText, const QString& ACaption, quint32 AFlags) {
    if (const TMessageBoxSink& sink = Sink()) return sink(AText, ACaption, AFlags);
    // Without a windowed application there is nothing to show a box on; the text still
    // reaches whoever looks at the program's error output.
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        std::fprintf(stderr, "%s: %s\n", qUtf8Printable(ACaption), qUtf8Printable(AText));
        return IDOK;
    }
    QMessageBox box(IconOf(AFlags), ACaption, AText, QMessageBox::Ok);
    // The system's box shows its text as written, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
    return IDOK;
}

TMessageBoxSink SetMessageBoxSink(TMessageBoxSink ASink) { return std::exchange(Sink(), std::move(ASink)); }

} // namespace zlt::ui
