// The image a picture box shows, kept apart from the box: the viewer draws
// into it whether the box is shown or not (the thumbnail grid renders into a
// hidden box), prints text on it the way a picture box prints (a current
// point that moves down a line per print), and hands it to the box to show.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

class PictureCanvas {
public:
    PictureCanvas();

    // The canvas at the size (pixels); a new size starts cleared.
    void setSize(QSize pixels);
    QSize size() const { return image.size(); }
    // Cls: the back colour everywhere, the current point at (0, 0).
    void Cls();
    // Prints a line at the current point, then moves the current point to
    // the start of the next line (x back to 0).
    void Print(const QString &text = QString());
    // Draws a picture centred into the canvas (no scaling).
    void drawCentred(const QImage &picture);

    QImage image;           // what the box shows
    QColor backColor = Qt::white;
    QColor foreColor = Qt::black;
    QFont font;
    double currentX = 0;    // pixels
    double currentY = 0;
    QStringList printed;    // the lines printed since the last Cls, in order
};
