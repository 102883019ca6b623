// An off-screen drawing surface of its own size that only grows: thumbnails
// from the desktop's thumbnailers are held in one, copied out whole or in
// part, and drawn into a picture's image. Copies never blend: what is drawn
// replaces what was there.
#pragma once

#include <QImage>

class pcMemDC {
public:
    pcMemDC() = default;
    ~pcMemDC() { FreeDC(); }
    pcMemDC(const pcMemDC &) = default;
    pcMemDC &operator=(const pcMemDC &) = default;

    // A copy of the picture: the surface grows to its size, the picture lands
    // at (0, 0). The picture stays the caller's.
    void CreateFromPicture(const QImage &picture) { CreateFromBitmap(picture); }
    void CreateFromBitmap(const QImage &bitmap);
    // Copies the region (sourceX, sourceY, width, height) of the surface to
    // (x, y) of the target; a negative width or height means the surface's own.
    void Draw(QImage &target, int x, int y, int width = -1, int height = -1, int sourceX = 0,
              int sourceY = 0) const;
    // A new picture of that region (a negative width or height: the own size).
    QImage GetPicture(int x = 0, int y = 0, int width = -1, int height = -1) const;
    // A picture of a bitmap: the bitmap itself (pictures are values); a null
    // bitmap gives a null picture.
    static QImage PictureFromBitmap(const QImage &bitmap) { return bitmap; }
    // The surface to draw into; nullptr while it has no size.
    QImage *GetHdc() { return surface_.isNull() ? nullptr : &surface_; }

    // A larger width or height makes the surface anew, empty, at the new size
    // (with the other side as it is); a smaller or equal one keeps it.
    void SetWidth(int width);
    int GetWidth() const { return width_; }
    void SetHeight(int height);
    int GetHeight() const { return height_; }
    // A new empty surface of that size (black); false, with nothing held, for
    // a negative size or one that cannot be allocated.
    bool Create(int width, int height);
    // Releases the surface; its size becomes 0 x 0.
    void FreeDC();

private:
    QImage surface_;
    int width_ = 0;
    int height_ = 0;
};
