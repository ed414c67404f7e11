// Writes the updater's icon as a Windows .ico file, the source of the Windows build's icon
// resource: zlt_write_icon app/updater.ico. The app tests check that the file shows what the
// code draws.

#include "app/UpdaterIcon.h"

#include <QFile>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: zlt_write_icon FILE.ico\n");
        return 2;
    }
    QFile file(QString::fromLocal8Bit(argv[1]));
    const QByteArray icon = zlt::app::UpdaterIconFile();
    if (!file.open(QIODevice::WriteOnly) || file.write(icon) != icon.size() || !file.flush()) {
        std::fprintf(stderr, "cannot write %s: %s\n", argv[1], qPrintable(file.errorString()));
        return 1;
    }
    return 0;
}
