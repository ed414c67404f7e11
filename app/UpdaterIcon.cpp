#include "app/UpdaterIcon.h"

#include <QBuffer>
#include <QDataStream>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRadialGradient>

#include <algorithm>

namespace zlt::app {

QImage DrawUpdaterIcon(int ASize) {
    QImage image(ASize, ASize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // Drawn on a 128-unit grid and scaled, so every size has the same picture.
    painter.scale(ASize / 128.0, ASize / 128.0);
    // Thin lines would vanish at the small sizes: keep them at least about one pixel wide.
    const double pixel = 128.0 / ASize;
    const auto lineWidth = [pixel](double AUnits) { return std::max(AUnits, pixel); };

    // The globe.
    const QPointF centre(56, 60);
    const double radius = 50;
    QRadialGradient sea(QPointF(40, 40), 70);
    sea.setColorAt(0.0, QColor(0x9A, 0xD8, 0xFF));
    sea.setColorAt(0.55, QColor(0x2E, 0x86, 0xDE));
    sea.setColorAt(1.0, QColor(0x0F, 0x3F, 0x8C));
    painter.setPen(QPen(QColor(0x0B, 0x2E, 0x6B), lineWidth(3)));
    painter.setBrush(sea);
    painter.drawEllipse(centre, radius, radius);

    QPainterPath disc;
    disc.addEllipse(centre, radius, radius);
    painter.save();
    painter.setClipPath(disc);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(255, 255, 255, 150), lineWidth(2.5)));
    // Meridians.
    painter.drawLine(QPointF(centre.x(), centre.y() - radius), QPointF(centre.x(), centre.y() + radius));
    for (const double half : {radius * 0.45, radius * 0.8}) painter.drawEllipse(centre, half, radius);
    // Parallels.
    painter.drawLine(QPointF(centre.x() - radius, centre.y()), QPointF(centre.x() + radius, centre.y()));
    for (const double offset : {-radius * 0.5, radius * 0.5})
        painter.drawLine(QPointF(centre.x() - radius, centre.y() + offset),
                         QPointF(centre.x() + radius, centre.y() + offset));
    painter.restore();

    // The orange arrow pointing down, over the globe's lower right.
    QPainterPath arrow;
    arrow.moveTo(80, 44);
    arrow.lineTo(104, 44);
    arrow.lineTo(104, 82);
    arrow.lineTo(122, 82);
    arrow.lineTo(92, 124);
    arrow.lineTo(62, 82);
    arrow.lineTo(80, 82);
    arrow.closeSubpath();
    QLinearGradient orange(QPointF(70, 44), QPointF(110, 124));
    orange.setColorAt(0.0, QColor(0xFF, 0xB3, 0x47));
    orange.setColorAt(1.0, QColor(0xF2, 0x6A, 0x00));
    painter.setPen(QPen(QColor(0x9C, 0x3D, 0x00), lineWidth(3), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(orange);
    painter.drawPath(arrow);

    painter.end();
    return image;
}

QByteArray UpdaterIconFile() {
    // ICONDIR, one ICONDIRENTRY per size, then each picture as PNG (Windows reads PNG entries
    // since Vista, and keeps their alpha channel).
    QList<QByteArray> pictures;
    for (const int size : UpdaterIconSizes) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        DrawUpdaterIcon(size).convertToFormat(QImage::Format_ARGB32).save(&buffer, "PNG");
        pictures.append(png);
    }
    QByteArray file;
    QDataStream out(&file, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    const auto count = quint16(pictures.size());
    out << quint16(0) << quint16(1) << count;
    quint32 offset = 6 + 16 * quint32(count);
    for (qsizetype i = 0; i < pictures.size(); ++i) {
        const auto size = quint8(UpdaterIconSizes[i]); // every size is below 256
        out << size << size << quint8(0) << quint8(0) << quint16(1) << quint16(32) << quint32(pictures[i].size())
            << offset;
        offset += quint32(pictures[i].size());
    }
    for (const QByteArray& png : pictures) out.writeRawData(png.constData(), int(png.size()));
    return file;
}

QIcon UpdaterIcon() {
    QIcon icon;
    for (const int size : UpdaterIconSizes) icon.addPixmap(QPixmap::fromImage(DrawUpdaterIcon(size)));
    return icon;
}

} // namespace zlt::app
