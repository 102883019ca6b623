#include "viewer/memdc.h"

#include <QPainter>

void pcMemDC::CreateFromBitmap(const QImage &bitmap)
{
    if (bitmap.isNull())
        return;
    SetWidth(bitmap.width());
    SetHeight(bitmap.height());
    if (surface_.isNull())
        return;
    QPainter p(&surface_);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(0, 0, bitmap);
}

void pcMemDC::Draw(QImage &target, int x, int y, int width, int height, int sourceX, int sourceY) const
{
    if (surface_.isNull() || target.isNull())
        return;
    if (width < 0)
        width = width_;
    if (height < 0)
        height = height_;
    QPainter p(&target);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(QPoint(x, y), surface_, QRect(sourceX, sourceY, width, height));
}

QImage pcMemDC::GetPicture(int x, int y, int width, int height) const
{
    if (surface_.isNull())
        return QImage();
    if (width < 0)
        width = width_;
    if (height < 0)
        height = height_;
    if (width <= 0 || height <= 0)
        return QImage();
    // A region reaching past the surface is black there, as a copy of a
    // device context is.
    QImage out(width, height, surface_.format());
    out.fill(Qt::black);
    QPainter p(&out);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(QPoint(0, 0), surface_, QRect(x, y, width, height));
    return out;
}

void pcMemDC::SetWidth(int width)
{
    if (width > width_)
        Create(width, height_);
}

void pcMemDC::SetHeight(int height)
{
    if (height > height_)
        Create(width_, height);
}

bool pcMemDC::Create(int width, int height)
{
    FreeDC();
    if (width < 0 || height < 0)
        return false;
    // A side of 0 still gives a surface (of one pixel) so that the other
    // side can be set first; the size reported is the one asked for.
    QImage surface(std::max(1, width), std::max(1, height), QImage::Format_ARGB32_Premultiplied);
    if (surface.isNull())
        return false;
    surface.fill(Qt::black);
    surface_ = std::move(surface);
    width_ = width;
    height_ = height;
    return true;
}

void pcMemDC::FreeDC()
{
    surface_ = QImage();
    width_ = 0;
    height_ = 0;
}
