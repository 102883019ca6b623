#include "viewer/canvas.h"

#include <QFontMetrics>
#include <QPainter>

PictureCanvas::PictureCanvas()
{
    font.setPointSizeF(8);
}

void PictureCanvas::setSize(QSize pixels)
{
    pixels = pixels.expandedTo(QSize(1, 1));
    if (image.size() == pixels && !image.isNull())
        return;
    image = QImage(pixels, QImage::Format_RGB32);
    Cls();
}

void PictureCanvas::Cls()
{
    if (!image.isNull())
        image.fill(backColor);
    currentX = currentY = 0;
    printed.clear();
}

void PictureCanvas::Print(const QString &text)
{
    const QFontMetrics metrics(font);
    if (!text.isEmpty() && !image.isNull()) {
        QPainter p(&image);
        p.setFont(font);
        p.setPen(foreColor);
        p.drawText(QPointF(currentX, currentY + metrics.ascent()), text);
    }
    printed.append(text);
    currentX = 0;
    currentY += metrics.height();
}

void PictureCanvas::drawCentred(const QImage &picture)
{
    if (image.isNull() || picture.isNull())
        return;
    QPainter p(&image);
    p.drawImage((image.width() - picture.width()) / 2, (image.height() - picture.height()) / 2, picture);
}
